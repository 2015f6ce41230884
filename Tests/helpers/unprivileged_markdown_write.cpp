// Runs AtomicMarkdownWriter::write as an unprivileged user (dropping root to "nobody"), so tests can
// see what a read-only folder does even when the test itself runs as root.
// Arguments: <automatic|namedTemporary|exclusiveCreate> <folder> <file name> <text>
// Prints "ok <path>" or "error <notADirectory|writeFailed> <errno>".
#include "Documents/AtomicMarkdownWriter.h"

#include <QCoreApplication>
#include <QTextStream>

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return 2;
    if (::geteuid() == 0) {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
            || ::setresuid(nobody, nobody, nobody) != 0)
            return 3;
        // Changing identity makes the process undumpable, which the leak checker needs.
        ::prctl(PR_SET_DUMPABLE, 1);
    }
    AtomicFile::Method method = AtomicFile::Method::automatic;
    if (args.at(1) == QLatin1String("namedTemporary"))
        method = AtomicFile::Method::namedTemporary;
    else if (args.at(1) == QLatin1String("exclusiveCreate"))
        method = AtomicFile::Method::exclusiveCreate;
    QTextStream out(stdout);
    try {
        const QUrl url = AtomicMarkdownWriter::write(args.at(4), args.at(2), args.at(3), method);
        out << "ok " << url.toLocalFile() << Qt::endl;
    } catch (const AtomicMarkdownWriterError &error) {
        out << "error "
            << (error.code() == AtomicMarkdownWriterError::Code::notADirectory ? "notADirectory"
                                                                               : "writeFailed")
            << ' ' << error.systemError() << Qt::endl;
    }
    return 0;
}
