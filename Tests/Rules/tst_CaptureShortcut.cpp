#include "Rules/CaptureShortcut.h"
#include "Rules/KeyTable.h"

#include <QJsonDocument>
#include <QTest>

namespace {

constexpr quint32 cmd = KeyTable::commandBit, shift = KeyTable::shiftBit, opt = KeyTable::optionBit,
                  ctrl = KeyTable::controlBit;

// Virtual key codes used below.
constexpr quint32 keyA = 0x00, keyC = 0x08, keyQ = 0x0C, keyT = 0x11, key1 = 0x12, keyL = 0x25, keyK = 0x28,
                  keyTab = 0x30, keySpace = 0x31, keyBackspace = 0x33, keyReturn = 0x24, keyDelete = 0x75,
                  keyF1 = 0x7A, keyF4 = 0x76, keyF5 = 0x60, keyF12 = 0x6F, keyF13 = 0x69, keyKeypad1 = 0x53,
                  keyUp = 0x7E, keyPageDown = 0x79;

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

        const auto accepted = [](quint32 code, quint32 mods) {
            return QString("accepted %1/0x%2").arg(code).arg(mods, 0, 16);
        };
        // Modifier keys on their own: the recorder keeps listening.
        QTest::newRow("shift key with shift") << 56u << shift << "modifierOnly";
        QTest::newRow("left super with super") << 55u << cmd << "modifierOnly";
        QTest::newRow("fn alone") << 63u << 0u << "modifierOnly";
        // Shift is not enough, and neither is nothing.
        QTest::newRow("shift-c") << keyC << shift << "missingModifier";
        QTest::newRow("plain c") << keyC << 0u << "missingModifier";
        QTest::newRow("shift with stray caps-lock bit") << keyC << (shift | 0x400u) << "missingModifier";
        // What the desktop keeps.
        QTest::newRow("super-q") << keyQ << cmd << "reservedSystemShortcut";
        QTest::newRow("super-tab") << keyTab << cmd << "reservedSystemShortcut";
        QTest::newRow("super-space") << keySpace << cmd << "reservedSystemShortcut";
        QTest::newRow("alt-tab") << keyTab << opt << "reservedSystemShortcut";
        QTest::newRow("alt-f4") << keyF4 << opt << "reservedSystemShortcut";
        QTest::newRow("ctrl-alt-delete") << keyDelete << (ctrl | opt) << "reservedSystemShortcut";
        QTest::newRow("ctrl-alt-backspace") << keyBackspace << (ctrl | opt) << "reservedSystemShortcut";
        QTest::newRow("ctrl-alt-t") << keyT << (ctrl | opt) << "reservedSystemShortcut";
        QTest::newRow("super-l") << keyL << cmd << "reservedSystemShortcut";
        QTest::newRow("ctrl-alt-f1") << keyF1 << (ctrl | opt) << "reservedSystemShortcut";
        QTest::newRow("ctrl-alt-f12") << keyF12 << (ctrl | opt) << "reservedSystemShortcut";
        QTest::newRow("alt-tab with stray bits")
            << keyTab << (opt | 0x400u | 0x1u) << "reservedSystemShortcut";
        // Accepted.
        QTest::newRow("default alt-shift-c") << keyC << (opt | shift) << accepted(keyC, opt | shift);
        QTest::newRow("ctrl-shift-q") << keyQ << (ctrl | shift) << accepted(keyQ, ctrl | shift);
        QTest::newRow("super-shift-tab") << keyTab << (cmd | shift) << accepted(keyTab, cmd | shift);
        QTest::newRow("ctrl-alt-f13") << keyF13 << (ctrl | opt) << accepted(keyF13, ctrl | opt);
        QTest::newRow("ctrl-alt-shift-t")
            << keyT << (ctrl | opt | shift) << accepted(keyT, ctrl | opt | shift);
        QTest::newRow("stray bits dropped") << keyK << (ctrl | 0x400u | 0x10000u) << accepted(keyK, ctrl);
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
        QTest::newRow("default") << CaptureShortcut::defaultShortcut() << "⌥⇧C"
                                 << "Alt Shift C";
        QTest::newRow("every modifier in order")
            << CaptureShortcut { keyK, cmd | shift | opt | ctrl, "k" } << "⌃⌥⇧⌘K"
            << "Control Alt Shift Super K";
        QTest::newRow("function key without characters") << CaptureShortcut { keyF5, ctrl, "" } << "⌃F5"
                                                         << "Control F5";
        QTest::newRow("space is named") << CaptureShortcut { keySpace, opt, " " } << "⌥Space"
                                        << "Alt Space";
        QTest::newRow("control character is named") << CaptureShortcut { keyReturn, cmd, "\r" } << "⌘Return"
                                                    << "Super Return";
        QTest::newRow("keypad key") << CaptureShortcut { keyKeypad1, ctrl | opt, "" } << "⌃⌥Keypad 1"
                                    << "Control Alt Keypad 1";
        QTest::newRow("arrow") << CaptureShortcut { keyUp, ctrl, "" } << "⌃Up Arrow"
                               << "Control Up Arrow";
        QTest::newRow("characters trimmed and upper-cased") << CaptureShortcut { keyA, opt, " é " } << "⌥É"
                                                            << "Alt É";
        QTest::newRow("unknown key code") << CaptureShortcut { 0x47, ctrl, "" } << "⌃Key 71"
                                          << "Control Key 71";
        QTest::newRow("characters win over the name") << CaptureShortcut { key1, ctrl, "!" } << "⌃!"
                                                      << "Control !";
    }

    void labels()
    {
        QFETCH(CaptureShortcut, shortcut);
        QFETCH(QString, symbols);
        QFETCH(QString, spoken);
        QCOMPARE(shortcut.displaySymbols(), symbols);
        QCOMPARE(shortcut.accessibilityLabel(), spoken);
    }

    void registrationTexts()
    {
        const CaptureShortcut s = CaptureShortcut::defaultShortcut();
        using H = HotKeyRegistrationState;
        QCOMPARE(HotKeyRegistrationStates::title(H::registered, s), QString("Your capture shortcut is ⌥⇧C"));
        QCOMPARE(HotKeyRegistrationStates::title(H::conflict, s), QString("⌥⇧C is already in use"));
        QCOMPARE(HotKeyRegistrationStates::title(H::unavailable, s), QString("Capture from the menu bar"));
        QCOMPARE(HotKeyRegistrationStates::explanation(H::registered, s),
            QString("Capture Region also remains available in the menu bar. Neither path requires "
                    "Accessibility permission."));
        const CaptureShortcut f5 { keyF5, ctrl | cmd, "" };
        QCOMPARE(HotKeyRegistrationStates::explanation(H::conflict, f5),
            QString("Another app already owns ⌃⌘F5. Choose a different shortcut, or use Capture Region in "
                    "the menu bar. The conflict never blocks setup."));
        QCOMPARE(HotKeyRegistrationStates::explanation(H::unavailable, s),
            QString("The desktop could not register ⌥⇧C. Capture Region remains available in the menu bar, "
                    "and the shortcut failure never blocks setup."));
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

    void jsonRejects_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("not json") << QByteArray("{keyCode: 8");
        QTest::newRow("array") << QByteArray("[8, 2560, \"c\"]");
        QTest::newRow("missing characters") << QByteArray(R"({"keyCode":8,"carbonModifiers":2560})");
        QTest::newRow("keyCode as text")
            << QByteArray(R"({"keyCode":"8","carbonModifiers":2560,"characters":"c"})");
        QTest::newRow("negative") << QByteArray(R"({"keyCode":-1,"carbonModifiers":2560,"characters":"c"})");
        QTest::newRow("fraction") << QByteArray(R"({"keyCode":8.5,"carbonModifiers":2560,"characters":"c"})");
        QTest::newRow("too large") << QByteArray(
            R"({"keyCode":4294967296,"carbonModifiers":0,"characters":"c"})");
    }

    void jsonRejects()
    {
        QFETCH(QByteArray, data);
        QVERIFY(!CaptureShortcut::fromJsonData(data));
    }

    void storedShortcutIsNotValidatedAgain()
    {
        const QByteArray shiftOnly = R"({"keyCode":8,"carbonModifiers":512,"characters":"c","extra":true})";
        QCOMPARE(
            CaptureShortcut::fromJsonData(shiftOnly), std::optional(CaptureShortcut { keyC, shift, "c" }));
    }

    void keyTableKnownKeys_data()
    {
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<quint32>("keysym");
        QTest::newRow("A") << keyA << "A"
                           << "a" << int(Qt::Key_A) << 0x61u;
        QTest::newRow("C") << keyC << "C"
                           << "c" << int(Qt::Key_C) << 0x63u;
        QTest::newRow("1") << key1 << "1"
                           << "1" << int(Qt::Key_1) << 0x31u;
        QTest::newRow("grave") << 0x32u << "`"
                               << "`" << int(Qt::Key_QuoteLeft) << 0x60u;
        QTest::newRow("return") << keyReturn << "Return"
                                << "" << int(Qt::Key_Return) << 0xff0du;
        QTest::newRow("space") << keySpace << "Space"
                               << " " << int(Qt::Key_Space) << 0x20u;
        QTest::newRow("delete") << keyDelete << "Delete"
                                << "" << int(Qt::Key_Delete) << 0xffffu;
        QTest::newRow("F1") << keyF1 << "F1"
                            << "" << int(Qt::Key_F1) << 0xffbeu;
        QTest::newRow("F12") << keyF12 << "F12"
                             << "" << int(Qt::Key_F12) << 0xffc9u;
        QTest::newRow("keypad 1") << keyKeypad1 << "Keypad 1"
                                  << "" << int(Qt::Key_1) << 0xffb1u;
        QTest::newRow("up") << keyUp << "Up Arrow"
                            << "" << int(Qt::Key_Up) << 0xff52u;
    }

    void keyTableKnownKeys()
    {
        QFETCH(quint32, keyCode);
        QFETCH(QString, name);
        QFETCH(QString, characters);
        QFETCH(int, qtKey);
        QFETCH(quint32, keysym);
        QCOMPARE(KeyTable::name(keyCode), std::optional(name));
        QCOMPARE(KeyTable::characters(keyCode), characters);
        QCOMPARE(KeyTable::qtKey(keyCode), std::optional(qtKey));
        QCOMPARE(KeyTable::keysym(keyCode), std::optional(keysym));
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

    void reverseLookups()
    {
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_C), std::optional(keyC));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Exclam, Qt::ShiftModifier), std::optional(key1));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Question), std::optional(0x2Cu));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Backtab), std::optional(keyTab));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_1), std::optional(key1));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_1, Qt::KeypadModifier), std::optional(keyKeypad1));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Home, Qt::KeypadModifier), std::optional(0x73u));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Enter), std::optional(0x4Cu));
        QCOMPARE(KeyTable::keyCodeForQtKey(Qt::Key_Meta), std::optional(55u));
        QVERIFY(!KeyTable::keyCodeForQtKey(Qt::Key_unknown));
        QVERIFY(!KeyTable::keyCodeForQtKey(Qt::Key_VolumeUp));
        QCOMPARE(KeyTable::keyCodeForKeysym('C'), std::optional(keyC));
        QCOMPARE(KeyTable::keyCodeForKeysym('?'), std::optional(0x2Cu));
        QCOMPARE(KeyTable::keyCodeForKeysym(0xfe20), std::optional(keyTab)); // ISO_Left_Tab
        QVERIFY(!KeyTable::keyCodeForKeysym(0));
        QVERIFY(!KeyTable::keyCodeForKeysym(0x1008ff13)); // a media key
    }

    void modifierConversions()
    {
        for (quint32 bits = 0; bits < 16; ++bits) {
            const quint32 carbon = ((bits & 1) ? cmd : 0) | ((bits & 2) ? shift : 0) | ((bits & 4) ? opt : 0)
                | ((bits & 8) ? ctrl : 0);
            QCOMPARE(KeyTable::carbonModifiers(KeyTable::qtModifiers(carbon)), carbon);
        }
        QCOMPARE(KeyTable::qtModifiers(cmd), Qt::KeyboardModifiers(Qt::MetaModifier));
        QCOMPARE(KeyTable::qtModifiers(opt | shift), Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(
            KeyTable::carbonModifiers(Qt::ControlModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier),
            ctrl);
        QCOMPARE(KeyTable::xModifierMask(opt | shift), 0x9u); // Mod1 | Shift
        QCOMPARE(KeyTable::xModifierMask(ctrl | cmd), 0x44u); // Control | Mod4
        QCOMPARE(KeyTable::xModifierMask(0x400u), 0u);
    }
};

QTEST_APPLESS_MAIN(TestCaptureShortcut)
#include "tst_CaptureShortcut.moc"
