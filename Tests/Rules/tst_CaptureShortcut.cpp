#include "Rules/CaptureShortcut.h"
#include "Rules/KeyTable.h"

#include <QJsonDocument>
#include <QSet>
#include <QTest>

namespace {

constexpr quint32 cmd = KeyTable::commandBit, shift = KeyTable::shiftBit, opt = KeyTable::optionBit,
                  ctrl = KeyTable::controlBit;

// Virtual key codes used below.
constexpr quint32 keyA = 0x00, keyC = 0x08, keyQ = 0x0C, keyT = 0x11, key1 = 0x12, keyL = 0x25, keyK = 0x28,
                  keyTab = 0x30, keySpace = 0x31, keyReturn = 0x24, keyDelete = 0x75, keyF1 = 0x7A,
                  keyF4 = 0x76, keyF12 = 0x6F, keyF13 = 0x69, keyKeypad1 = 0x53, keyPageDown = 0x79;

QString outcome(const std::variant<CaptureShortcut, CaptureShortcutError> &result)
{
    if (const auto *shortcut = std::get_if<CaptureShortcut>(&result))
        return QString("accepted %1/0x%2").arg(shortcut->keyCode).arg(shortcut->carbonModifiers, 0, 16);
    switch (std::get<CaptureShortcutError>(result)) {
    case CaptureShortcutError::modifierOnly:
        return "modifierOnly";
    case CaptureShortcutError::missingModifier:
        return "missingModifier";
    case CaptureShortcutError::reservedSystemShortcut:
        return "reservedSystemShortcut";
    }
    return "?";
}

} // namespace

class TestCaptureShortcut : public QObject
{
    Q_OBJECT

private slots:
    void validation_data()
    {
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, quint32 code, quint32 mods, const char *expected) {
            QTest::newRow(name) << code << mods
                                << (expected ? QString(expected)
                                             : QString("accepted %1/0x%2")
                                                   .arg(code)
                                                   .arg(mods & (cmd | shift | opt | ctrl), 0, 16));
        };
        // Modifier keys on their own: the recorder keeps listening.
        row("shift key with shift", 56u, shift, "modifierOnly");
        row("fn alone", 63u, 0u, "modifierOnly");
        // Shift is not enough, and neither is nothing.
        row("shift-c", keyC, shift, "missingModifier");
        row("shift with stray caps-lock bit", keyC, shift | 0x400u, "missingModifier");
        // What the desktop keeps.
        row("super-q", keyQ, cmd, "reservedSystemShortcut");
        row("alt-tab", keyTab, opt, "reservedSystemShortcut");
        row("alt-f4", keyF4, opt, "reservedSystemShortcut");
        row("ctrl-alt-delete", keyDelete, ctrl | opt, "reservedSystemShortcut");
        row("super-l", keyL, cmd, "reservedSystemShortcut");
        row("ctrl-alt-f1", keyF1, ctrl | opt, "reservedSystemShortcut");
        row("ctrl-alt-f12", keyF12, ctrl | opt, "reservedSystemShortcut");
        row("alt-tab with stray bits", keyTab, opt | 0x400u | 0x1u, "reservedSystemShortcut");
        // Accepted (accepted rows keep only the four modifier bits).
        row("default alt-shift-c", keyC, opt | shift, nullptr);
        row("super-shift-tab", keyTab, cmd | shift, nullptr);
        row("ctrl-alt-f13", keyF13, ctrl | opt, nullptr);
        row("ctrl-alt-shift-t", keyT, ctrl | opt | shift, nullptr);
        row("stray bits dropped", keyK, ctrl | 0x400u | 0x10000u, nullptr);
    }

    void validation()
    {
        QFETCH(quint32, keyCode);
        QFETCH(quint32, modifiers);
        QFETCH(QString, expected);
        const auto result = CaptureShortcut::fromCarbonModifiers(keyCode, modifiers, "x");
        QCOMPARE(outcome(result), expected);
        if (const auto *shortcut = std::get_if<CaptureShortcut>(&result))
            QCOMPARE(shortcut->characters, QString("x"));
        // A lone modifier is the recorder still listening, not a refusal to show.
        if (const auto *error = std::get_if<CaptureShortcutError>(&result))
            QCOMPARE(CaptureShortcutErrors::message(*error).has_value(),
                *error != CaptureShortcutError::modifierOnly);
    }

    void labels_data()
    {
        QTest::addColumn<CaptureShortcut>("shortcut");
        QTest::addColumn<QString>("symbols");
        QTest::addColumn<QString>("spoken");
        const auto row
            = [](const char *name, CaptureShortcut shortcut, const char *symbols, const char *spoken) {
                  QTest::newRow(name) << shortcut << QString(symbols) << QString(spoken);
              };
        row("default", CaptureShortcut::defaultShortcut(), "Alt+Shift+C", "Alt Shift C");
        row("every modifier in order", { keyK, cmd | shift | opt | ctrl, "k" }, "Ctrl+Alt+Shift+Super+K",
            "Control Alt Shift Super K");
        row("space is named", { keySpace, opt, " " }, "Alt+Space", "Alt Space");
        row("control character is named", { keyReturn, cmd, "\r" }, "Super+Return", "Super Return");
        row("keypad key", { keyKeypad1, ctrl | opt, "" }, "Ctrl+Alt+Keypad 1", "Control Alt Keypad 1");
        row("characters trimmed and upper-cased", { keyA, opt, " é " }, "Alt+É", "Alt É");
        row("unknown key code", { 0x47, ctrl, "" }, "Ctrl+Key 71", "Control Key 71");
        row("characters win over the name", { key1, ctrl, "!" }, "Ctrl+!", "Control !");
        row("a plus key keeps its own plus", { key1, shift | opt, "+" }, "Alt+Shift++", "Alt Shift +");
    }

    void labels()
    {
        QFETCH(CaptureShortcut, shortcut);
        QTEST(shortcut.displaySymbols(), "symbols");
        QTEST(shortcut.accessibilityLabel(), "spoken");
        // Every registration text names the shortcut it is about.
        const QString symbols = shortcut.displaySymbols();
        for (auto state : { HotKeyRegistrationState::registered, HotKeyRegistrationState::conflict })
            QVERIFY(HotKeyRegistrationStates::title(state, shortcut).contains(symbols));
        for (auto state : { HotKeyRegistrationState::conflict, HotKeyRegistrationState::unavailable })
            QVERIFY(HotKeyRegistrationStates::explanation(state, shortcut).contains(symbols));
    }

    void jsonRoundTrip()
    {
        const CaptureShortcut original { keyPageDown, ctrl | opt | shift | cmd, "é" };
        const QByteArray data = original.toJsonData();
        const QJsonObject object = QJsonDocument::fromJson(data).object();
        QCOMPARE(object.keys(), (QStringList { "carbonModifiers", "characters", "keyCode" }));
        QCOMPARE(object.value("keyCode").toInteger(), qint64(keyPageDown));
        QCOMPARE(object.value("carbonModifiers").toInteger(), qint64(0x1B00));
        QCOMPARE(CaptureShortcut::fromJsonData(data), std::optional(original));
        const CaptureShortcut widest { 0xFFFFFFFFu, 0xFFFFFFFFu, "" };
        QCOMPARE(CaptureShortcut::fromJsonData(widest.toJsonData()), std::optional(widest));
    }

    void jsonRejects()
    {
        for (const char *data :
            { "{keyCode: 8", "[8, 2560, \"c\"]", R"({"keyCode":8,"carbonModifiers":2560})",
                R"({"keyCode":"8","carbonModifiers":2560,"characters":"c"})",
                R"({"keyCode":-1,"carbonModifiers":2560,"characters":"c"})",
                R"({"keyCode":8.5,"carbonModifiers":2560,"characters":"c"})",
                R"({"keyCode":4294967296,"carbonModifiers":0,"characters":"c"})" })
            QVERIFY2(!CaptureShortcut::fromJsonData(data), data);
    }

    void storedShortcutIsNotValidatedAgain()
    {
        const QByteArray shiftOnly = R"({"keyCode":8,"carbonModifiers":512,"characters":"c","extra":true})";
        QCOMPARE(
            CaptureShortcut::fromJsonData(shiftOnly), std::optional(CaptureShortcut { keyC, shift, "c" }));
    }

    // Every key the table knows comes back from its Qt key and from its keysym, and the modifier
    // keys are exactly the ones the recorder ignores.
    void keyTableRoundTrips()
    {
        QSet<quint32> codes;
        QSet<quint32> keysyms;
        for (const KeyTable::Key &key : KeyTable::all()) {
            const QString where = QString::number(key.keyCode);
            QVERIFY2(!codes.contains(key.keyCode), qPrintable(where));
            codes.insert(key.keyCode);
            QVERIFY2(KeyTable::name(key.keyCode).has_value() && !KeyTable::name(key.keyCode)->isEmpty(),
                qPrintable(where));
            if (key.keysym != 0) {
                QVERIFY2(!keysyms.contains(key.keysym), qPrintable(where));
                keysyms.insert(key.keysym);
                QCOMPARE(KeyTable::keyCodeForKeysym(key.keysym), std::optional(key.keyCode));
            }
            if (key.qtKey != Qt::Key_unknown) {
                const auto back = KeyTable::keyCodeForQtKey(
                    key.qtKey, key.keypad ? Qt::KeypadModifier : Qt::KeyboardModifiers());
                QVERIFY2(back.has_value(), qPrintable(where));
                // Left and right Shift (or Control) share one Qt key.
                QCOMPARE(KeyTable::qtKey(*back), std::optional(key.qtKey));
                QCOMPARE(KeyTable::find(*back)->keypad, key.keypad);
            }
        }
        for (quint32 modifierKey : CaptureShortcut::modifierKeyCodes())
            QVERIFY2(codes.contains(modifierKey), qPrintable(QString::number(modifierKey)));
    }

    // Keys the recorder sees under another name, and modifiers both ways.
    void lookupsAndModifiers()
    {
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Exclam, Qt::ShiftModifier), std::optional(key1));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Backtab), std::optional(keyTab));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_1, Qt::KeypadModifier), std::optional(keyKeypad1));
        QCOMPARE(KeyTable::keyCodeForKeysym(0xfe20), std::optional(keyTab)); // ISO_Left_Tab
        QVERIFY(!KeyTable::keyCodeForQtKey(Qt::Key_VolumeUp));
        QVERIFY(!KeyTable::keyCodeForKeysym(0x1008ff13)); // a media key
        for (quint32 bits = 0; bits < 16; ++bits) {
            const quint32 carbon = ((bits & 1) ? cmd : 0) | ((bits & 2) ? shift : 0) | ((bits & 4) ? opt : 0)
                | ((bits & 8) ? ctrl : 0);
            QCOMPARE(KeyTable::carbonModifiers(KeyTable::qtModifiers(carbon)), carbon);
        }
        QCOMPARE(
            KeyTable::carbonModifiers(Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier),
            ctrl);
        QCOMPARE(KeyTable::xModifierMask(ctrl | cmd | 0x400u), 0x44u); // Control | Mod4
    }
};

QTEST_APPLESS_MAIN(TestCaptureShortcut)
#include "tst_CaptureShortcut.moc"
