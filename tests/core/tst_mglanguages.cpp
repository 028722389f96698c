#include "TestSupport.h"
#include "core/mglib/CodePages.h"
#include "core/mglib/MgLanguages.h"
#include "core/mglib/MgLib.h"
#include "core/mglib/TextFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

// A language file as translators write it: byte-order mark, a comment first, CR LF line ends.
QByteArray languageFile(const QByteArray& displayName, int languageId, const QByteArray& body)
{
    return kBom + "; test language\r\n1000=" + displayName + "\r\n1001=" + QByteArray::number(languageId) + "\r\n" +
           body;
}

QString textOf(const QList<TMgLangItem>& items, int key)
{
    for (const TMgLangItem& item : items) {
        if (item.Key == key)
            return item.Text;
    }
    return QStringLiteral("<absent>");
}

QStringList namesOf(const QList<TMgLangListItem>& list)
{
    QStringList names;
    for (const TMgLangListItem& item : list)
        names.append(item.Name);
    return names;
}

QStringList placeholdersOf(const QString& text)
{
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    QStringList found;
    for (const QRegularExpressionMatch& match : placeholder.globalMatch(text))
        found.append(match.captured());
    found.sort();
    return found;
}

} // namespace

class TestMgLanguages : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void listHoldsFilesThatNameThemselves();
    void listSkipsWhatCannotBeRead();
    void oversizedFileIsIgnored();
    void missingFolderGivesNoLanguages();

    void languageFileValues_data();
    void languageFileValues();
    void malformedKeyLinesAreDropped_data();
    void malformedKeyLinesAreDropped();

    void translationOverridesEnglishKeyByKey();
    void englishWithoutForceUsesBuiltInTexts();
    void missingTranslationLeavesEnglishBase();
    void changingLanguageReplacesEveryText();

    void startupLanguage_data();
    void startupLanguage();
    void findCurrentLanguage_data();
    void findCurrentLanguage();
    void savedLanguageIsLoadedAtStartup();
    void languageMenuShowsUsableFiles();

    void formatText_data();
    void formatText();
    void localeNames_data();
    void localeNames();
    void systemLanguageFromEnvironment_data();
    void systemLanguageFromEnvironment();
    void systemLanguageReadsTheProcessEnvironment();

    void shippedFile_data();
    void shippedFile();
    void shippedFilesAreAllListed();
    void shippedLanguageIsFoundFromTheLocale_data();
    void shippedLanguageIsFoundFromTheLocale();
    void russianMinutesFollowThePluralRule();

    void localeFollowsTheLanguage_data();
    void localeFollowsTheLanguage();
    void loadedLanguageBringsItsLocale();
    void shippedLanguageReadsOldFilesInItsCodePage_data();
    void shippedLanguageReadsOldFilesInItsCodePage();
    void languageFileMayNameTheCodePage();
    void englishInPlaceOfAMissingFileKeepsTheSystemCodePage();

private:
    QString write(const QString& name, const QByteArray& bytes);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMgLanguages::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestMgLanguages::write(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(name);
    WriteFileBytes(path, bytes);
    return path;
}

void TestMgLanguages::listHoldsFilesThatNameThemselves()
{
    const QList<TMgLangListItem> list = BuildLanguageList(TestDataPath(QStringLiteral("langs")));
    // Sorted without regard to case; files without a usable 1000= or 1001= stay out, as does ".TXT".
    QCOMPARE(namesOf(list), QStringList({"Good", "Legacy8Bit", "NameRepeated"}));
    QCOMPARE(list.at(0).LanguageId, 77);
    QCOMPARE(list.at(0).DisplayName, QStringLiteral("Good"));
    QCOMPARE(list.at(1).DisplayName, QStringLiteral("Français"));
    QCOMPARE(list.at(1).LanguageId, 12);
    // The name right after the byte-order mark is not seen; the repeated one on a later line is.
    QCOMPARE(list.at(2).DisplayName, QStringLiteral("Repeated"));
}

void TestMgLanguages::listSkipsWhatCannotBeRead()
{
    write(QStringLiteral("b.txt"), languageFile("Bee", 20, ""));
    write(QStringLiteral("A.txt"), languageFile("Ay", 21, ""));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.txt")));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), m_dir->filePath(QStringLiteral("gone.txt"))));
    // A named pipe with nobody writing would block whoever opens it.
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath(QStringLiteral("pipe.txt"))).constData(), 0600), 0);
    write(QStringLiteral(".txt"), languageFile("No name", 22, ""));

    TMgLang lang(m_dir->path(), 1033);
    QCOMPARE(namesOf(lang.LanguageList()), QStringList({"A", "b"}));

    lang.SetCurrentLanguageId(20);
    lang.LoadLanguage(QStringLiteral("pipe"), true);
    QCOMPARE(lang.LanguageName(), QStringLiteral("pipe"));
    QVERIFY(lang.Items().isEmpty());
}

void TestMgLanguages::oversizedFileIsIgnored()
{
    QByteArray bytes = languageFile("Huge", 30, "0001=Big\r\n");
    bytes.append(QByteArray(MaxLanguageFileSize, ';'));
    write(QStringLiteral("huge.txt"), bytes);
    write(QStringLiteral("small.txt"), languageFile("Small", 31, "0001=Small\r\n"));

    TMgLang lang(m_dir->path(), 1033);
    QCOMPARE(namesOf(lang.LanguageList()), QStringList({"small"}));
    lang.LoadLanguage(QStringLiteral("huge"), true);
    QVERIFY(!lang.HasText(Text::Add.key));
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add"));
}

void TestMgLanguages::missingFolderGivesNoLanguages()
{
    TMgLang lang(m_dir->filePath(QStringLiteral("Langs")), 1049);
    QVERIFY(lang.LanguageList().isEmpty());
    QVERIFY(lang.LanguageMenuItems().isEmpty());
    QCOMPARE(lang.FindCurrentLanguage(), -1);
    lang.LoadStartupLanguage(1049);
    QCOMPARE(lang.LanguageName(), QStringLiteral("en"));
    QCOMPARE(lang.GetText(Text::EveryDay), QStringLiteral("Every day"));
    QCOMPARE(lang.GetText(500, QStringLiteral("fallback")), QStringLiteral("fallback"));
}

void TestMgLanguages::languageFileValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("a value split over three lines is joined without separators")
        << languageFile("X", 50, "0004=Delete the alarm\r\n %1 for\r\n good?\r\n0005=Next\r\n") << 4
        << QStringLiteral("Delete the alarm %1 for good?");
    QTest::newRow("a continuation does not reach past the next key")
        << languageFile("X", 50, "0004=One\r\ntwo\r\n0005=Next\r\n") << 5 << QStringLiteral("Next");
    QTest::newRow("double hash is a line break")
        << languageFile("X", 50, "0041=Good##morning!\r\n") << 41 << QStringLiteral("Good\r\nmorning!");
    QTest::newRow("triple hash breaks the line once, left to right")
        << languageFile("X", 50, "0041=a###b\r\n") << 41 << QStringLiteral("a\r\n#b");
    QTest::newRow("comment lines are skipped inside a value")
        << languageFile("X", 50, "0029=Every\r\n; not text\r\n day\r\n") << 29 << QStringLiteral("Every day");
    QTest::newRow("blank lines are skipped")
        << languageFile("X", 50, "0030=Week\r\n   \r\n\t\r\n\r\ndays\r\n") << 30 << QStringLiteral("Weekdays");
    QTest::newRow("a later key replaces an earlier one")
        << languageFile("X", 50, "0001=First\r\n0002=Edit\r\n0001=Second\r\n") << 1 << QStringLiteral("Second");
    QTest::newRow("an empty value is a translation too") << languageFile("X", 50, "0006=\r\n") << 6 << QString();
    QTest::newRow("the first line loses its byte-order mark, so a key there counts")
        << QByteArray(kBom + "0001=Right after the mark\r\n") << 1 << QStringLiteral("Right after the mark");
    QTest::newRow("Unix line ends are read too")
        << QByteArray(kBom + "; c\n0001=Plus\n0002=Edit\n") << 1 << QStringLiteral("Plus");
    QTest::newRow("the last line needs no line end") << languageFile("X", 50, "0001=End") << 1 << QStringLiteral("End");
    QTest::newRow("trailing blanks of a value are kept")
        << languageFile("X", 50, "0028=Every  \r\n") << 28 << QStringLiteral("Every  ");
    QTest::newRow("UTF-8 text") << languageFile("X", 50, "0027=Будильник\r\n") << 27 << QStringLiteral("Будильник");
    QTest::newRow("bytes that are not UTF-8 are read as Windows-1252")
        << languageFile("X", 50, "0029=Tous les jours \xE0 l\x92heure\r\n") << 29
        << QStringLiteral("Tous les jours à l’heure");
    QTest::newRow("the file's own keys are stored like any other")
        << languageFile("Deutsch", 7, "") << LanguageIdKey << QStringLiteral("7");
}

void TestMgLanguages::languageFileValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, key);
    QFETCH(QString, expected);
    QCOMPARE(textOf(ParseLanguageFile(bytes), key), expected);

    // The same through the language manager, from a real file over an empty English base.
    write(QStringLiteral("xx.txt"), bytes);
    TMgLang lang(m_dir->path(), 50);
    lang.LoadLanguage(QStringLiteral("xx"), false);
    QCOMPARE(lang.GetText(key, QStringLiteral("<absent>")), expected);
}

void TestMgLanguages::malformedKeyLinesAreDropped_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("keyTwo");   // text of key 2 afterwards
    QTest::addColumn<QString>("keyThree"); // text of key 3 afterwards

    QTest::newRow("letters in the key") << QByteArray("0002=Edit\r\n00x3=Bad\r\n") << "Edit"
                                        << "<absent>";
    QTest::newRow("a key of words") << QByteArray("abcd=Bad\r\n0003=Delete\r\n") << "<absent>"
                                    << "Delete";
    QTest::newRow("a sign in the key") << QByteArray("+003=Bad\r\n0002=Edit\r\n") << "Edit"
                                       << "<absent>";
    QTest::newRow("a blank in the key") << QByteArray(" 003=Bad\r\n0002=Edit\r\n") << "Edit"
                                        << "<absent>";
    QTest::newRow("text before the first key") << QByteArray("stray words\r\n0002=Edit\r\n") << "Edit"
                                               << "<absent>";
    QTest::newRow("a short stray line does not spoil the next key")
        << QByteArray("xy\r\n0002=Edit\r\n0003=Delete\r\n") << "Edit"
        << "Delete";
    QTest::newRow("a three-digit key line continues the value above")
        << QByteArray("0002=Edit\r\n003=Delete\r\n") << "Edit003=Delete"
        << "<absent>";
    QTest::newRow("a bad key swallows its continuation lines")
        << QByteArray("0002=Edit\r\nx003=Bad\r\nmore\r\n0003=Delete\r\n") << "Edit"
        << "Delete";
}

void TestMgLanguages::malformedKeyLinesAreDropped()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, keyTwo);
    QFETCH(QString, keyThree);
    // No header lines: nothing before the body for a stray line to continue.
    const QList<TMgLangItem> items = ParseLanguageFile(kBom + "; comment\r\n" + body);
    QCOMPARE(textOf(items, 2), keyTwo);
    QCOMPARE(textOf(items, 3), keyThree);
}

void TestMgLanguages::translationOverridesEnglishKeyByKey()
{
    write(QStringLiteral("en.txt"), languageFile("English", 9, "0001=Add alarm\r\n0002=Edit alarm\r\n"));
    write(QStringLiteral("ru.txt"), languageFile("Русский", 25, "0001=Добавить\r\n0014=(Нет)\r\n"));
    TMgLang lang(m_dir->path(), 1049);
    lang.LoadLanguage(QStringLiteral("ru"), false);

    QCOMPARE(lang.LanguageName(), QStringLiteral("ru"));
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Добавить"));
    QCOMPARE(lang.GetText(Text::Edit), QStringLiteral("Edit alarm")); // from en.txt
    QCOMPARE(lang.GetText(Text::Delete), QStringLiteral("Delete"));   // built in
    QCOMPARE(lang.NoneText(), QStringLiteral("(None)"));              // until the language is applied
    lang.UpdateNoneText();
    QCOMPARE(lang.NoneText(), QStringLiteral("(Нет)"));
}

void TestMgLanguages::englishWithoutForceUsesBuiltInTexts()
{
    write(QStringLiteral("en.txt"), languageFile("English", 9, "0001=Add alarm\r\n"));
    TMgLang lang(m_dir->path(), 1033);
    lang.LoadLanguage(QStringLiteral("en"), false);
    QVERIFY(lang.Items().isEmpty());
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add"));

    lang.LoadLanguage(QStringLiteral("en"), true);
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add alarm"));
}

void TestMgLanguages::missingTranslationLeavesEnglishBase()
{
    write(QStringLiteral("en.txt"), languageFile("English", 9, "0001=Add alarm\r\n"));
    TMgLang lang(m_dir->path(), 1036);
    lang.LoadLanguage(QStringLiteral("fr"), false);
    QCOMPARE(lang.LanguageName(), QStringLiteral("fr"));
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add alarm"));
    QCOMPARE(lang.Items().size(), 3); // 0001, 1000 and 1001 of en.txt
}

void TestMgLanguages::changingLanguageReplacesEveryText()
{
    write(QStringLiteral("de.txt"), languageFile("Deutsch", 7, "0005=Duplizieren\r\n0001=Hinzufügen\r\n"));
    write(QStringLiteral("it.txt"), languageFile("Italiano", 16, "0001=Aggiungi\r\n"));
    TMgLang lang(m_dir->path(), 1031);
    lang.LoadLanguage(QStringLiteral("de"), true);
    QCOMPARE(lang.GetText(Text::Clone), QStringLiteral("Duplizieren"));
    lang.LoadLanguage(QStringLiteral("it"), true);
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Aggiungi"));
    QCOMPARE(lang.GetText(Text::Clone), QStringLiteral("Clone"));
}

void TestMgLanguages::startupLanguage_data()
{
    QTest::addColumn<int>("system");
    QTest::addColumn<int>("expected");
    QTest::newRow("English (United Kingdom) becomes English") << 2057 << 9;
    QTest::newRow("English (United States) becomes English") << 1033 << 9;
    QTest::newRow("English (Australia) becomes English") << 3081 << 9;
    QTest::newRow("Russian stays as it is") << 1049 << 1049;
    QTest::newRow("German (Austria) stays as it is") << 3079 << 3079;
}

void TestMgLanguages::startupLanguage()
{
    QFETCH(int, system);
    QFETCH(int, expected);
    QCOMPARE(StartupLanguageId(system), expected);
    QCOMPARE(TMgLang(m_dir->path(), system).CurrentLanguageId(), expected);
}

void TestMgLanguages::findCurrentLanguage_data()
{
    QTest::addColumn<QList<int>>("fileIds"); // one file per identifier, named a, b, c ...
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("expectedIndex");
    QTest::addColumn<int>("expectedCurrent");

    QTest::newRow("a neutral file serves a country variant") << QList<int>{7, 25} << 1049 << 1 << 25;
    QTest::newRow("an exact identifier wins over the neutral one") << QList<int>{25, 1049} << 1049 << 1 << 1049;
    QTest::newRow("the first of two equal identifiers") << QList<int>{25, 25} << 25 << 0 << 25;
    QTest::newRow("no file for the language") << QList<int>{7, 16} << 1049 << -1 << 1049;
    QTest::newRow("English at start-up finds the English file")
        << QList<int>{25, 9} << StartupLanguageId(2057) << 1 << 9;
}

void TestMgLanguages::findCurrentLanguage()
{
    QFETCH(QList<int>, fileIds);
    QFETCH(int, current);
    QFETCH(int, expectedIndex);
    QFETCH(int, expectedCurrent);
    for (qsizetype i = 0; i < fileIds.size(); ++i)
        write(QChar(char16_t(u'a' + i)) + QStringLiteral(".txt"), languageFile("L", fileIds.at(i), ""));
    TMgLang lang(m_dir->path(), 1033);
    lang.SetCurrentLanguageId(current);
    QCOMPARE(lang.FindCurrentLanguage(), expectedIndex);
    QCOMPARE(lang.CurrentLanguageId(), expectedCurrent);
}

void TestMgLanguages::savedLanguageIsLoadedAtStartup()
{
    write(QStringLiteral("en.txt"), languageFile("English", 9, "0001=Add alarm\r\n"));
    write(QStringLiteral("ru.txt"), languageFile("Русский", 25, "0001=Добавить\r\n"));
    TMgLang lang(m_dir->path(), 2057);

    lang.LoadStartupLanguage(1049);
    QCOMPARE(lang.CurrentLanguageId(), 25);
    QCOMPARE(lang.LanguageName(), QStringLiteral("ru"));
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Добавить"));

    // English at start-up keeps the built-in texts; chosen from the menu it reads en.txt.
    lang.LoadStartupLanguage(9);
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add"));
    lang.ChooseLanguage(9);
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add alarm"));

    // A saved language without a file falls back to English.
    lang.LoadStartupLanguage(1031);
    QCOMPARE(lang.LanguageName(), QStringLiteral("en"));
    QCOMPARE(lang.CurrentLanguageId(), 1031);
    QCOMPARE(lang.GetText(Text::Add), QStringLiteral("Add"));
}

void TestMgLanguages::languageMenuShowsUsableFiles()
{
    write(QStringLiteral("de.txt"), languageFile("Deutsch", 7, ""));
    write(QStringLiteral("ja.txt"), languageFile("??? (shown where the script was missing)", 17, ""));
    write(QStringLiteral("ru.txt"), languageFile("Русский", 25, ""));
    TMgLang lang(m_dir->path(), 1049);
    lang.ChooseLanguage(1049);

    const QList<LanguageMenuItem> menu = lang.LanguageMenuItems();
    QCOMPARE(menu.size(), 2);
    QCOMPARE(menu.at(0).Caption, QStringLiteral("Deutsch"));
    QCOMPARE(menu.at(0).LanguageId, 7);
    QVERIFY(!menu.at(0).Checked);
    QCOMPARE(menu.at(1).Caption, QStringLiteral("Русский"));
    QVERIFY(menu.at(1).Checked);
}

void TestMgLanguages::formatText_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected");
    QTest::newRow("every occurrence is replaced") << "%1, %1 and %1" << QStringList{"x"} << "x, x and x";
    QTest::newRow("values go to their numbers") << "%2 before %1" << QStringList{"one", "two"} << "two before one";
    QTest::newRow("a number without a value stays") << "%1 of %2" << QStringList{"1"} << "1 of %2";
    QTest::newRow("no values leave the text alone") << "File %1 is missing" << QStringList() << "File %1 is missing";
    QTest::newRow("a value may itself hold a later placeholder") << "%1!" << QStringList{"%2", "done"} << "done!";
    QTest::newRow("the not-found message")
        << QString::fromUtf16(Text::FileNotFound) << QStringList{"/tmp/ring.mp3"} << "File /tmp/ring.mp3 is not found!";
}

void TestMgLanguages::formatText()
{
    QFETCH(QString, format);
    QFETCH(QStringList, values);
    QFETCH(QString, expected);
    QCOMPARE(FormatText(format, values), expected);
}

void TestMgLanguages::localeNames_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("expected");
    QTest::newRow("English (United Kingdom)") << "en_GB.UTF-8" << 2057;
    QTest::newRow("English (United States)") << "en_US.UTF-8" << 1033;
    QTest::newRow("Russian") << "ru_RU.UTF-8" << 1049;
    QTest::newRow("Ukrainian") << "uk_UA.UTF-8" << 1058;
    QTest::newRow("German") << "de_DE.UTF-8" << 1031;
    QTest::newRow("German (Austria) with a modifier") << "de_AT.UTF-8@euro" << 3079;
    QTest::newRow("French (Canada)") << "fr_CA.UTF-8" << 3084;
    QTest::newRow("Spanish (Spain)") << "es_ES.UTF-8" << 3082;
    QTest::newRow("Italian") << "it_IT" << 1040;
    QTest::newRow("Polish without a code set") << "pl_PL" << 1045;
    QTest::newRow("Portuguese (Brazil) with a lower-case code set") << "pt_BR.utf8" << 1046;
    QTest::newRow("Chinese (PRC)") << "zh_CN.GB18030" << 2052;
    QTest::newRow("Chinese (Taiwan)") << "zh_TW.UTF-8" << 1028;
    QTest::newRow("Japanese") << "ja_JP.eucJP" << 1041;
    QTest::newRow("Korean") << "ko_KR.UTF-8" << 1042;
    QTest::newRow("Serbian in Latin letters") << "sr_RS.UTF-8@latin" << 9242;
    QTest::newRow("Serbian in Cyrillic letters") << "sr_RS.UTF-8" << 10266;
    QTest::newRow("a bare language code") << "fr" << 1036;
    QTest::newRow("an unlisted country keeps the language") << "de_IT.UTF-8" << 1031;
    QTest::newRow("an unknown language") << "xx_YY.UTF-8" << 0;
    QTest::newRow("an empty name") << "" << 0;
}

void TestMgLanguages::localeNames()
{
    QFETCH(QString, locale);
    QFETCH(int, expected);
    QCOMPARE(LanguageIdFromLocaleName(locale), expected);
}

void TestMgLanguages::systemLanguageFromEnvironment_data()
{
    QTest::addColumn<QString>("lcAll");
    QTest::addColumn<QString>("lcMessages");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("expected");
    QTest::newRow("LANG alone") << ""
                                << ""
                                << "ru_RU.UTF-8"
                                << "" << 1049;
    QTest::newRow("LC_MESSAGES wins over LANG") << ""
                                                << "de_DE.UTF-8"
                                                << "ru_RU.UTF-8"
                                                << "" << 1031;
    QTest::newRow("LC_ALL wins over both") << "it_IT.UTF-8"
                                           << "de_DE.UTF-8"
                                           << "ru_RU.UTF-8"
                                           << "" << 1040;
    QTest::newRow("LANGUAGE picks the messages language") << ""
                                                          << ""
                                                          << "en_GB.UTF-8"
                                                          << "fr_FR:en" << 1036;
    QTest::newRow("unknown LANGUAGE entries are passed over") << ""
                                                              << ""
                                                              << "ru_RU.UTF-8"
                                                              << "xx:pl" << 1045;
    QTest::newRow("LANGUAGE of only unknown entries leaves the locale") << ""
                                                                        << ""
                                                                        << "uk_UA.UTF-8"
                                                                        << "xx" << 1058;
    QTest::newRow("the C locale ignores LANGUAGE") << "C"
                                                   << ""
                                                   << ""
                                                   << "de" << 1033;
    QTest::newRow("the POSIX locale is English") << ""
                                                 << ""
                                                 << "POSIX"
                                                 << "" << 1033;
    QTest::newRow("C.UTF-8 is English") << ""
                                        << ""
                                        << "C.UTF-8"
                                        << "" << 1033;
    QTest::newRow("nothing set is English") << ""
                                            << ""
                                            << ""
                                            << "" << 1033;
    QTest::newRow("an unknown locale is English") << ""
                                                  << ""
                                                  << "xx_YY.UTF-8"
                                                  << "" << 1033;
}

void TestMgLanguages::systemLanguageFromEnvironment()
{
    QFETCH(QString, lcAll);
    QFETCH(QString, lcMessages);
    QFETCH(QString, lang);
    QFETCH(QString, language);
    QFETCH(int, expected);
    const QHash<QString, QString> environment{
        {"LC_ALL", lcAll}, {"LC_MESSAGES", lcMessages}, {"LANG", lang}, {"LANGUAGE", language}};
    QCOMPARE(SystemUiLanguageId([&](const char* name) { return environment.value(QString::fromLatin1(name)); }),
             expected);
}

void TestMgLanguages::systemLanguageReadsTheProcessEnvironment()
{
    const ScopedEnv lcAll("LC_ALL", QByteArray());
    const ScopedEnv lcMessages("LC_MESSAGES", QByteArray());
    const ScopedEnv lang("LANG", "de_CH.UTF-8");
    const ScopedEnv language("LANGUAGE", QByteArray());
    QCOMPARE(SystemUiLanguageId(), 2055);
}

void TestMgLanguages::shippedFile_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"en", "ru", "de", "fr", "es", "it", "pl", "uk"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestMgLanguages::shippedFile()
{
    QFETCH(QString, name);
    const QByteArray bytes = ReadFileBytes(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR "/") + name + ".txt");

    QVERIFY2(bytes.startsWith(kBom), "starts with the UTF-8 byte-order mark");
    QVERIFY2(bytes.endsWith("\r\n"), "ends with a line end");
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));
    QVERIFY2(bytes.mid(kBom.size()).startsWith(';'), "the first line is a comment");
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(bytes);
    QVERIFY2(!decoded.isEmpty() && !utf8.hasError(), "valid UTF-8 throughout");

    const QList<TMgLangItem> items = ParseLanguageFile(bytes);
    QVERIFY2(textOf(items, DisplayNameKey) != QStringLiteral("<absent>"), "has a display name");
    for (const TMgLangItem& item : items) {
        const bool known = item.Key == DisplayNameKey || item.Key == LanguageIdKey || item.Key == CodePageKey ||
                           std::any_of(std::begin(Text::All), std::end(Text::All),
                                       [&](const LangText& text) { return text.key == item.Key; });
        QVERIFY2(known, qPrintable(QStringLiteral("key %1 is one the program uses").arg(item.Key)));
    }
    for (const LangText& text : Text::All) {
        const QString translated = textOf(items, text.key);
        QVERIFY2(translated != QStringLiteral("<absent>"), qPrintable(QStringLiteral("has key %1").arg(text.key)));
        QVERIFY2(!translated.trimmed().isEmpty(), qPrintable(QStringLiteral("key %1 has text").arg(text.key)));
        QCOMPARE(placeholdersOf(translated), placeholdersOf(text.English()));
        if (name == QLatin1StringView("en"))
            QCOMPARE(translated, text.English()); // the file is the translators' template of the built-in texts
    }

    // Listed and loaded the way the program does it.
    TMgLang lang(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR), 1033);
    const auto entry = std::find_if(lang.LanguageList().begin(), lang.LanguageList().end(),
                                    [&](const TMgLangListItem& item) { return item.Name == name; });
    QVERIFY(entry != lang.LanguageList().end());
    QCOMPARE(entry->DisplayName, textOf(items, DisplayNameKey));
    QCOMPARE(QString::number(entry->LanguageId), textOf(items, LanguageIdKey));
    QVERIFY2(entry->LanguageId < 256, "a neutral identifier, so every country of the language finds it");
    lang.ChooseLanguage(entry->LanguageId);
    QCOMPARE(lang.LanguageName(), name);
    for (const LangText& text : Text::All)
        QCOMPARE(lang.GetText(text), textOf(items, text.key));
}

void TestMgLanguages::shippedFilesAreAllListed()
{
    const QDir folder(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR));
    QStringList files = folder.entryList({QStringLiteral("*.txt")}, QDir::Files);
    for (QString& file : files)
        file.chop(4);
    TMgLang lang(folder.path(), 1033);
    QCOMPARE(namesOf(lang.LanguageList()), files);
}

void TestMgLanguages::shippedLanguageIsFoundFromTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("English (United Kingdom)") << "en_GB.UTF-8"
                                              << "en";
    QTest::newRow("English (United States)") << "en_US.UTF-8"
                                             << "en";
    QTest::newRow("Russian") << "ru_RU.UTF-8"
                             << "ru";
    QTest::newRow("German (Switzerland)") << "de_CH.UTF-8"
                                          << "de";
    QTest::newRow("French (Belgium)") << "fr_BE.UTF-8"
                                      << "fr";
    QTest::newRow("Spanish (Mexico)") << "es_MX.UTF-8"
                                      << "es";
    QTest::newRow("Italian") << "it_IT.UTF-8"
                             << "it";
    QTest::newRow("Polish") << "pl_PL.UTF-8"
                            << "pl";
    QTest::newRow("Ukrainian") << "uk_UA.UTF-8"
                               << "uk";
}

void TestMgLanguages::shippedLanguageIsFoundFromTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, expected);
    const int system =
        SystemUiLanguageId([&](const char* name) { return qstrcmp(name, "LANG") == 0 ? locale : QString(); });
    TMgLang lang(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR), system);
    const int index = lang.FindCurrentLanguage();
    QVERIFY(index >= 0);
    QCOMPARE(lang.LanguageList().at(index).Name, expected);
}

void TestMgLanguages::russianMinutesFollowThePluralRule()
{
    TMgLang lang(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR), 1049);
    lang.LoadStartupLanguage(lang.CurrentLanguageId());
    const QString minute = lang.GetText(Text::Minute);
    const QString minutes = lang.GetText(Text::Minutes);
    QCOMPARE(CountWithUnit(1, minute, minutes), QStringLiteral("1 Минута"));
    QCOMPARE(CountWithUnit(3, minute, minutes), QStringLiteral("3 Минуты"));
    QCOMPARE(CountWithUnit(10, minute, minutes), QStringLiteral("10 Минут"));
}

void TestMgLanguages::localeFollowsTheLanguage_data()
{
    QTest::addColumn<int>("languageId");
    QTest::addColumn<QString>("userLocale");
    QTest::addColumn<QString>("expected");
    QTest::newRow("German chosen in the United States") << 7 << "en_US"
                                                        << "de_DE";
    QTest::newRow("German chosen in Austria keeps the user's locale") << 7 << "de_AT"
                                                                      << "de_AT";
    QTest::newRow("German chosen in Switzerland is Swiss German") << 7 << "fr_CH"
                                                                  << "de_CH";
    QTest::newRow("English in the C locale") << 9 << "C"
                                             << "en_US";
    QTest::newRow("English in the United Kingdom") << 9 << "en_GB"
                                                   << "en_GB";
    QTest::newRow("English chosen in Germany") << 9 << "de_DE"
                                               << "en_DE";
    QTest::newRow("Russian in the C locale") << 25 << "C"
                                             << "ru_RU";
    QTest::newRow("Ukrainian chosen in Russia") << 34 << "ru_RU"
                                                << "uk_UA";
    QTest::newRow("a specific identifier names its country") << 2055 << "de_DE"
                                                             << "de_CH";
    QTest::newRow("traditional Chinese") << 1028 << "C"
                                         << "zh_TW";
    QTest::newRow("Serbian in Latin letters") << 9242 << "C"
                                              << "sr_Latn_RS";
    QTest::newRow("an unknown identifier keeps the user's locale") << 50 << "fr_FR"
                                                                   << "fr_FR";
    QTest::newRow("an unknown identifier never keeps C") << 50 << "C"
                                                         << "en_US";
}

void TestMgLanguages::localeFollowsTheLanguage()
{
    QFETCH(int, languageId);
    QFETCH(QString, userLocale);
    QFETCH(QString, expected);
    const QLocale user = userLocale == QLatin1StringView("C") ? QLocale::c() : QLocale(userLocale);
    const QLocale locale = LocaleForLanguage(languageId, user);
    QCOMPARE(locale.bcp47Name(), QLocale(expected).bcp47Name());
    // The C locale writes seconds into every short time; the locale of a language never does.
    QVERIFY2(!locale.toString(QTime(9, 0), QLocale::ShortFormat).contains(QLatin1StringView(":00:")),
             qPrintable(locale.timeFormat(QLocale::ShortFormat)));
}

void TestMgLanguages::loadedLanguageBringsItsLocale()
{
    write(QStringLiteral("de.txt"), languageFile("Deutsch", 7, "0028=Jeden\r\n"));
    write(QStringLiteral("ru.txt"), languageFile("Русский", 25, "0028=По\r\n"));
    TMgLang lang(m_dir->path(), 1033);
    lang.LoadStartupLanguage(9);
    QCOMPARE(lang.LoadedLanguageId(), EnglishLanguageId);
    QCOMPARE(lang.Locale().language(), QLocale::English);

    lang.ChooseLanguage(1031);
    QCOMPARE(lang.LoadedLanguageId(), 7);
    QCOMPARE(lang.Locale().language(), QLocale::German);
    QCOMPARE(lang.Locale().dayName(1), QLocale(QLocale::German).dayName(1));
    QVERIFY(lang.Locale().dayName(1) != QLocale(QLocale::English).dayName(1));

    lang.ChooseLanguage(1049);
    QCOMPARE(lang.Locale().language(), QLocale::Russian);
    // A language without a file of its own shows English texts, and so English day names.
    lang.ChooseLanguage(1040);
    QCOMPARE(lang.LanguageName(), QStringLiteral("en"));
    QCOMPARE(lang.Locale().language(), QLocale::English);
}

void TestMgLanguages::shippedLanguageReadsOldFilesInItsCodePage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("codePage");
    const QHash<QString, int> codePages = {
        {QStringLiteral("ru"), 1251}, {QStringLiteral("uk"), 1251}, {QStringLiteral("pl"), 1250}};
    const QDir folder(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR));
    for (const QString& file : folder.entryList({QStringLiteral("*.txt")}, QDir::Files)) {
        const QString name = file.chopped(4);
        QTest::newRow(qPrintable(name)) << name << codePages.value(name, WesternCodePage);
    }
}

void TestMgLanguages::shippedLanguageReadsOldFilesInItsCodePage()
{
    QFETCH(QString, name);
    QFETCH(int, codePage);
    TMgLang lang(QStringLiteral(LARKBELL_SHIPPED_LANGS_DIR), 1033);
    const auto entry = std::find_if(lang.LanguageList().begin(), lang.LanguageList().end(),
                                    [&](const TMgLangListItem& item) { return item.Name == name; });
    QVERIFY(entry != lang.LanguageList().end());
    lang.ChooseLanguage(entry->LanguageId);
    QCOMPARE(lang.CodePage(), codePage);
    QCOMPARE(UserTextCodePage(), codePage);
    QCOMPARE(lang.Locale().language(), QLocale(name).language());

    // Every text of the language, as a user of it would have typed it into an old file: each
    // character must be one of the code page, and comes back as it was.
    QString text;
    for (const LangText& item : Text::All)
        text += lang.GetText(item) + u'\n';
    QHash<QChar, char> byteOf;
    for (int b = 0; b < 256; ++b) {
        const QString decoded = DecodeCodePage(QByteArray(1, char(b)), codePage);
        QCOMPARE(decoded.size(), 1);
        byteOf.insert(decoded.at(0), char(b));
    }
    QByteArray bytes;
    for (const QChar c : std::as_const(text)) {
        QVERIFY2(byteOf.contains(c), qPrintable(QStringLiteral("\"%1\" is in code page %2").arg(c).arg(codePage)));
        bytes.append(byteOf.value(c));
    }
    QCOMPARE(DecodeUserText(bytes), text);
}

void TestMgLanguages::languageFileMayNameTheCodePage()
{
    write(QStringLiteral("hr.txt"), languageFile("Hrvatski", 26, "1002=1250\r\n0028=Svaki\r\n"));
    write(QStringLiteral("xx.txt"), languageFile("Unknown", 26, "1002=12345\r\n"));
    write(QStringLiteral("sr.txt"), languageFile("Srpski", 3098, "0028=Svaki\r\n"));
    TMgLang lang(m_dir->path(), 1033);
    lang.ChooseLanguage(3098);
    QCOMPARE(lang.CodePage(), 1251); // Cyrillic Serbian, by its identifier
    lang.LoadLanguage(QStringLiteral("hr"), true);
    QCOMPARE(lang.CodePage(), 1250);
    QCOMPARE(UserTextCodePage(), 1250);
    // "Čeka" typed in Windows-1250.
    QCOMPARE(DecodeUserText(QByteArray("\xC8\x65ka")), QStringLiteral("Čeka"));
    // A code page that cannot be read here gives way to the one of the identifier.
    lang.LoadLanguage(QStringLiteral("xx"), true);
    QCOMPARE(lang.CodePage(), 1251);
}

void TestMgLanguages::englishInPlaceOfAMissingFileKeepsTheSystemCodePage()
{
    // Old files come from the system the user ran, in its code page, whatever language the texts are in.
    TMgLang lang(m_dir->path(), 1049);
    QCOMPARE(UserTextCodePage(), 1251);
    lang.LoadStartupLanguage(lang.CurrentLanguageId());
    QCOMPARE(lang.LanguageName(), QStringLiteral("en"));
    QCOMPARE(lang.CodePage(), 1251);
    QCOMPARE(DecodeUserText(QByteArray("\xC1\xF3\xE4\xE8\xEB\xFC\xED\xE8\xEA")), QStringLiteral("Будильник"));
    lang.ChooseLanguage(9);
    QCOMPARE(lang.CodePage(), WesternCodePage);
}

QTEST_GUILESS_MAIN(TestMgLanguages)
#include "tst_mglanguages.moc"
