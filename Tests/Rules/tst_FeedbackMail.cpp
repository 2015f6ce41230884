#include "Rules/FeedbackMail.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

namespace {

FeedbackMail::Diagnostics sampleDiagnostics()
{
    FeedbackMail::Diagnostics d;
    d.bundleID = "a&b=c+d#e?f";
    d.architecture = "x86_64";
    d.displayCount = 2;
    d.screenRecording = "Allowed";
    d.capturePhase = "50% done";
    d.setupComplete = true;
    return d;
}

// The body as a mail client gets it back from the link.
QString decodedBody(const QUrl &url)
{
    return QUrlQuery(url).queryItemValue("body", QUrl::FullyDecoded);
}

} // namespace

class TestFeedbackMail : public QObject
{
    Q_OBJECT

private slots:
    void bodyCarriesVersionsAndOptionalDiagnostics()
    {
        FeedbackMail::Snapshot snapshot { "0.1.0", "42", "Debian GNU/Linux 12 (bookworm)", std::nullopt };
        const QString plain = FeedbackMail::body(snapshot);
        QVERIFY(plain.contains("0.1.0") && plain.contains("42") && plain.contains(snapshot.macosVersion));
        QVERIFY(!plain.contains("bundle:"));
        snapshot.diagnostics = sampleDiagnostics();
        const QString full = FeedbackMail::body(snapshot);
        QVERIFY(full.startsWith(plain));
        QVERIFY(full.contains(snapshot.diagnostics->rendered()));
    }

    void mailtoSurvivesAwkwardText()
    {
        const FeedbackMail::Snapshot snapshot { "1.0 & beta", "7", "Débian 12 — ünïcode 日本語 \U0001F600",
            sampleDiagnostics() };
        const std::optional<QUrl> url = FeedbackMail::mailtoURL(snapshot);
        QVERIFY(url && url->isValid());
        QCOMPARE(url->scheme(), QString("mailto"));
        QCOMPARE(url->path(), FeedbackMail::address());

        // Parsed back, both fields are exactly what was put in; line breaks arrive as CRLF.
        QString expected = FeedbackMail::body(snapshot);
        expected.replace("\n", "\r\n");
        QCOMPARE(QUrlQuery(*url).queryItemValue("subject", QUrl::FullyDecoded), FeedbackMail::subject());
        QCOMPARE(decodedBody(*url), expected);
        QCOMPARE(QUrlQuery(*url).queryItems().size(), 2);

        // The text handed to the desktop holds only ASCII, no raw blanks or breaks, and the same fields.
        const QByteArray encoded = url->toEncoded();
        for (char c : encoded)
            QVERIFY2(c > ' ' && c < 127, encoded.constData());
        QVERIFY(encoded.contains("1.0%20%26%20beta"));
        QVERIFY(encoded.contains("a%26b%3Dc%2Bd%23e%3Ff"));
        QCOMPARE(encoded.count('&'), 1);
        const QUrl reparsed = QUrl::fromEncoded(encoded, QUrl::StrictMode);
        QVERIFY(reparsed.isValid());
        QCOMPARE(decodedBody(reparsed), expected);
    }

    void bodyWithBareBreaksIsNormalized()
    {
        const FeedbackMail::Snapshot snapshot { "1", "2", "line one\rline two\r\nline three", std::nullopt };
        const std::optional<QUrl> url = FeedbackMail::mailtoURL(snapshot);
        QVERIFY(url);
        const QString body = decodedBody(*url);
        QVERIFY(body.contains("line one\r\nline two\r\nline three"));
        QVERIFY(!body.contains(QRegularExpression("\r(?!\n)|(?<!\r)\n")));
    }
};

QTEST_APPLESS_MAIN(TestFeedbackMail)
#include "tst_FeedbackMail.moc"
