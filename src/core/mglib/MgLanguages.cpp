#include "core/mglib/MgLanguages.h"

#include "core/mglib/CodePages.h"
#include "core/mglib/DebugLog.h"
#include "core/mglib/MgLib.h"
#include "core/mglib/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

struct LocaleLanguage {
    const char* locale; // "ll_CC", or "ll" for the language's main country
    int languageId;
};

// POSIX locale to Windows language identifier. A bare language code stands for the country where the
// language is mostly written, as the desktop's own language chooser offers it.
constexpr LocaleLanguage kLocaleLanguages[] = {
    // Shipped languages and their variants.
    {"en", 1033},
    {"en_US", 1033},
    {"en_GB", 2057},
    {"en_AU", 3081},
    {"en_CA", 4105},
    {"en_NZ", 5129},
    {"en_IE", 6153},
    {"en_ZA", 7177},
    {"en_IN", 16393},
    {"en_SG", 18441},
    {"ru", 1049},
    {"ru_RU", 1049},
    {"ru_UA", 1049},
    {"ru_MD", 2073},
    {"de", 1031},
    {"de_DE", 1031},
    {"de_CH", 2055},
    {"de_AT", 3079},
    {"de_LU", 4103},
    {"de_LI", 5127},
    {"de_BE", 1031},
    {"fr", 1036},
    {"fr_FR", 1036},
    {"fr_BE", 2060},
    {"fr_CA", 3084},
    {"fr_CH", 4108},
    {"fr_LU", 5132},
    {"es", 3082},
    {"es_ES", 3082},
    {"es_MX", 2058},
    {"es_AR", 11274},
    {"es_CO", 9226},
    {"es_CL", 13322},
    {"es_PE", 10250},
    {"es_VE", 8202},
    {"es_US", 21514},
    {"it", 1040},
    {"it_IT", 1040},
    {"it_CH", 2064},
    {"pl", 1045},
    {"pl_PL", 1045},
    {"uk", 1058},
    {"uk_UA", 1058},
    // Other European languages.
    {"pt", 2070},
    {"pt_PT", 2070},
    {"pt_BR", 1046},
    {"nl", 1043},
    {"nl_NL", 1043},
    {"nl_BE", 2067},
    {"be", 1059},
    {"be_BY", 1059},
    {"bg", 1026},
    {"bg_BG", 1026},
    {"cs", 1029},
    {"cs_CZ", 1029},
    {"sk", 1051},
    {"sk_SK", 1051},
    {"sl", 1060},
    {"sl_SI", 1060},
    {"hr", 1050},
    {"hr_HR", 1050},
    {"bs", 5146},
    {"bs_BA", 5146},
    {"sr", 10266},
    {"sr_RS", 10266},
    {"sr_RS@latin", 9242},
    {"sr_ME", 12314},
    {"mk", 1071},
    {"mk_MK", 1071},
    {"sq", 1052},
    {"sq_AL", 1052},
    {"hu", 1038},
    {"hu_HU", 1038},
    {"ro", 1048},
    {"ro_RO", 1048},
    {"el", 1032},
    {"el_GR", 1032},
    {"tr", 1055},
    {"tr_TR", 1055},
    {"fi", 1035},
    {"fi_FI", 1035},
    {"sv", 1053},
    {"sv_SE", 1053},
    {"sv_FI", 2077},
    {"da", 1030},
    {"da_DK", 1030},
    {"nb", 1044},
    {"nb_NO", 1044},
    {"no", 1044},
    {"no_NO", 1044},
    {"nn", 2068},
    {"nn_NO", 2068},
    {"is", 1039},
    {"is_IS", 1039},
    {"et", 1061},
    {"et_EE", 1061},
    {"lv", 1062},
    {"lv_LV", 1062},
    {"lt", 1063},
    {"lt_LT", 1063},
    {"ca", 1027},
    {"ca_ES", 1027},
    {"eu", 1069},
    {"eu_ES", 1069},
    {"gl", 1110},
    {"gl_ES", 1110},
    {"ga", 2108},
    {"ga_IE", 2108},
    {"cy", 1106},
    {"cy_GB", 1106},
    {"mt", 1082},
    {"mt_MT", 1082},
    {"lb", 4103},
    {"lb_LU", 4103},
    // Caucasus, Middle East and Central Asia.
    {"ka", 1079},
    {"ka_GE", 1079},
    {"hy", 1067},
    {"hy_AM", 1067},
    {"az", 1068},
    {"az_AZ", 1068},
    {"kk", 1087},
    {"kk_KZ", 1087},
    {"uz", 1091},
    {"uz_UZ", 1091},
    {"he", 1037},
    {"he_IL", 1037},
    {"ar", 1025},
    {"ar_SA", 1025},
    {"ar_EG", 3073},
    {"ar_AE", 14337},
    {"fa", 1065},
    {"fa_IR", 1065},
    // South, East and South-East Asia.
    {"hi", 1081},
    {"hi_IN", 1081},
    {"bn", 2117},
    {"bn_BD", 2117},
    {"bn_IN", 1093},
    {"ta", 1097},
    {"ta_IN", 1097},
    {"te", 1098},
    {"te_IN", 1098},
    {"ur", 1056},
    {"ur_PK", 1056},
    {"th", 1054},
    {"th_TH", 1054},
    {"vi", 1066},
    {"vi_VN", 1066},
    {"id", 1057},
    {"id_ID", 1057},
    {"ms", 1086},
    {"ms_MY", 1086},
    {"fil", 1124},
    {"fil_PH", 1124},
    {"ja", 1041},
    {"ja_JP", 1041},
    {"ko", 1042},
    {"ko_KR", 1042},
    {"zh", 2052},
    {"zh_CN", 2052},
    {"zh_SG", 4100},
    {"zh_TW", 1028},
    {"zh_HK", 3076},
    {"zh_MO", 5124},
};

constexpr int kEnglishUs = 1033;
// The low ten bits of a Windows language identifier name the language, the rest its country.
constexpr int kPrimaryLanguageMask = 0x3FF;

// The table's locale name of a language identifier: "de_CH" for 2055, "de" for the neutral 7; empty
// when the table has none.
QString localeNameOfLanguageId(int languageId)
{
    const bool neutral = languageId > 0 && languageId <= kPrimaryLanguageMask;
    for (const LocaleLanguage& entry : kLocaleLanguages) {
        const QString name = QString::fromLatin1(entry.locale);
        if (neutral && (entry.languageId & kPrimaryLanguageMask) == languageId)
            return name.section(u'_', 0, 0);
        if (!neutral && entry.languageId == languageId && name.contains(u'_'))
            return name;
    }
    return {};
}

// A POSIX name of the table as Qt reads it: "sr_RS@latin" is "sr_Latn_RS".
QLocale qtLocale(const QString& name)
{
    if (!name.endsWith(QLatin1StringView("@latin")))
        return QLocale(name);
    const QString bare = name.section(u'@', 0, 0);
    return QLocale(bare.section(u'_', 0, 0) + QStringLiteral("_Latn_") + bare.section(u'_', 1));
}

// The locale name without its code set: "de_AT.UTF-8@euro" -> "de_AT@euro".
QString withoutCodeSet(const QString& localeName)
{
    const qsizetype dot = localeName.indexOf(u'.');
    if (dot < 0)
        return localeName;
    const qsizetype at = localeName.indexOf(u'@', dot);
    return localeName.left(dot) + (at < 0 ? QString() : localeName.mid(at));
}

int lookUpLocale(const QString& name)
{
    for (const LocaleLanguage& entry : kLocaleLanguages) {
        if (name == QLatin1StringView(entry.locale))
            return entry.languageId;
    }
    return 0;
}

QList<QByteArray> splitLines(const QByteArray& bytes)
{
    // CR LF is what the files should use; a lone LF or CR from another editor ends a line too.
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < size && bytes.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(bytes.mid(start));
    return lines;
}

bool isBlankLine(const QByteArray& line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// The four leading characters of a key line as a key; only plain digits make one.
int keyOfLine(const QByteArray& text)
{
    int key = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return -1;
        key = key * 10 + (c - '0');
    }
    return key;
}

void storeItem(QList<TMgLangItem>& items, int key, const QString& text)
{
    for (TMgLangItem& item : items) {
        if (item.Key == key) {
            item.Text = text;
            return;
        }
    }
    items.append({key, text});
}

// The whole file, or nothing for a file that is missing, unreadable or too large to be a language file.
std::optional<QByteArray> readLanguageFile(const QString& path)
{
    // Only regular files: opening a named pipe that happens to end in ".txt" would wait forever.
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    if (info.size() > MaxLanguageFileSize) {
        WriteLog(QStringLiteral("Language file %1 left out: it is larger than %2 MB")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(MaxLanguageFileSize / (1024 * 1024)));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Sized by the file: reading asks for the whole limit's memory up front, whatever the file holds.
    const QByteArray bytes = file.read(qMin(file.size(), MaxLanguageFileSize) + 1);
    if (bytes.size() > MaxLanguageFileSize || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

QString languageFilePath(const QString& folder, const QString& name)
{
    return JoinPath(folder, name + QStringLiteral(".txt"));
}

} // namespace

QList<TMgLangListItem> BuildLanguageList(const QString& folder)
{
    QList<TMgLangListItem> list;
    if (folder.isEmpty())
        return list;
    const QDir dir(folder);
    // Only ".txt" in lower case: LoadLanguage opens name + ".txt", and the file system tells cases apart.
    // Checked by hand: a wildcard filter would load the regular-expression engine for the program's life.
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList names;
    for (const QString& fileName : files) {
        if (fileName.size() > 4 && fileName.endsWith(QLatin1String(".txt"), Qt::CaseSensitive))
            names.append(fileName.chopped(4));
    }
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

    for (const QString& name : names) {
        const std::optional<QByteArray> bytes = readLanguageFile(languageFilePath(folder, name));
        if (!bytes)
            continue;
        QByteArray displayText;
        QByteArray identifierText;
        bool haveDisplay = false;
        bool haveIdentifier = false;
        for (const QByteArray& line : splitLines(*bytes)) {
            if (line.startsWith("1000=")) {
                displayText = line.mid(5);
                haveDisplay = true;
            } else if (line.startsWith("1001=")) {
                identifierText = line.mid(5);
                haveIdentifier = true;
            }
            if (haveDisplay && haveIdentifier)
                break;
        }
        bool isNumber = false;
        const int languageId = TrimBlanks(QString::fromLatin1(identifierText)).toInt(&isNumber, 10);
        const QString displayName = DecodeUserText(displayText, WesternCodePage);
        if (isNumber && languageId > 0 && !displayName.isEmpty())
            list.append({name, languageId, displayName});
    }
    return list;
}

QList<TMgLangItem> ParseLanguageFile(const QByteArray& bytes)
{
    QList<TMgLangItem> items;
    QByteArray pending;
    const auto flush = [&] {
        // A key line is at least "NNNN=", so anything shorter left pending is no key and is dropped,
        // rather than glued in front of the next key line where it would spoil that key.
        if (pending.size() >= 5) {
            const int key = keyOfLine(pending);
            if (key >= 0) {
                const QString value = DecodeUserText(pending.mid(5), WesternCodePage);
                storeItem(items, key, QString(value).replace(QStringLiteral("##"), QStringLiteral("\r\n")));
            }
        }
        pending.clear();
    };

    const QList<QByteArray> lines = splitLines(bytes);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // The first line starts with the byte-order mark, dropped unseen.
        const QByteArray line = i == 0 ? lines.at(i).mid(3) : lines.at(i);
        if (line.startsWith(';') || isBlankLine(line))
            continue;
        if (line.size() >= 5 && line.at(4) == '=')
            flush();
        pending.append(line);
    }
    flush();
    return items;
}

QString FormatText(const QString& format, const QStringList& values)
{
    QString text = format;
    for (qsizetype i = 0; i < values.size(); ++i)
        text.replace(QString(u'%' + QString::number(i + 1)), values.at(i), Qt::CaseInsensitive);
    return text;
}

int LanguageIdFromLocaleName(const QString& localeName)
{
    const QString name = withoutCodeSet(localeName.trimmed());
    if (name.isEmpty())
        return 0;
    if (const int id = lookUpLocale(name))
        return id;
    // "de_AT@euro": the modifier did not name a variant of its own.
    const QString bare = name.section(u'@', 0, 0);
    if (const int id = lookUpLocale(bare))
        return id;
    // A country not in the table still tells the language.
    return lookUpLocale(bare.section(u'_', 0, 0));
}

int SystemUiLanguageId(const std::function<QString(const char*)>& getenv)
{
    const auto read = [&](const char* name) { return getenv ? getenv(name) : qEnvironmentVariable(name); };
    QString locale = read("LC_ALL");
    if (locale.isEmpty())
        locale = read("LC_MESSAGES");
    if (locale.isEmpty())
        locale = read("LANG");
    const QString bare = withoutCodeSet(locale);
    if (bare.isEmpty() || bare == QLatin1StringView("C") || bare == QLatin1StringView("POSIX"))
        return kEnglishUs;
    for (const QString& entry : read("LANGUAGE").split(u':', Qt::SkipEmptyParts)) {
        if (const int id = LanguageIdFromLocaleName(entry))
            return id;
    }
    if (const int id = LanguageIdFromLocaleName(locale))
        return id;
    return kEnglishUs;
}

QLocale LocaleForLanguage(int languageId, const QLocale& userLocale)
{
    const QLocale stayIn =
        userLocale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : userLocale;
    const QString name = localeNameOfLanguageId(languageId);
    if (name.isEmpty())
        return stayIn;
    const QLocale wanted = qtLocale(name);
    if (wanted.language() == QLocale::C)
        return stayIn;
    const bool neutral = !name.contains(u'_');
    // The user's own locale may carry their choice of formats (LC_TIME); it is kept wherever it fits.
    if (wanted.language() == userLocale.language() && (neutral || wanted.territory() == userLocale.territory()))
        return userLocale;
    if (neutral && userLocale.territory() != QLocale::AnyTerritory) {
        const QLocale inUsersCountry(wanted.language(), userLocale.territory());
        if (inUsersCountry.language() == wanted.language() && inUsersCountry.territory() == userLocale.territory())
            return inUsersCountry;
    }
    return wanted;
}

int StartupLanguageId(int systemLanguageId)
{
    return (systemLanguageId & 0xFF) == EnglishLanguageId ? EnglishLanguageId : systemLanguageId;
}

TMgLang::TMgLang(const QString& languagesFolder, int systemUiLanguageId)
    : m_languagesFolder(languagesFolder)
    , m_languageList(BuildLanguageList(languagesFolder))
    , m_currentLanguageId(StartupLanguageId(systemUiLanguageId))
{
    // Settings are read before a language is loaded; the system's language tells their code page.
    useCodePage();
}

int TMgLang::FindCurrentLanguage()
{
    for (qsizetype i = 0; i < m_languageList.size(); ++i) {
        if (m_languageList.at(i).LanguageId == m_currentLanguageId)
            return int(i);
    }
    const int neutral = m_currentLanguageId & 0xFF;
    for (qsizetype i = 0; i < m_languageList.size(); ++i) {
        if (m_languageList.at(i).LanguageId == neutral) {
            m_currentLanguageId = neutral;
            return int(i);
        }
    }
    return -1;
}

void TMgLang::LoadLanguage(const QString& name, bool force)
{
    const QString english = QStringLiteral("en");
    if (name != english)
        LoadLanguage(english, true);
    else
        m_items.clear();
    m_languageName = name;
    m_namedCodePage = 0;
    if (name != english || force)
        loadFile(name);
    useCodePage();
}

int TMgLang::LoadedLanguageId() const
{
    if (m_languageName == QLatin1StringView("en"))
        return EnglishLanguageId;
    for (const TMgLangListItem& entry : m_languageList) {
        if (entry.Name == m_languageName)
            return entry.LanguageId;
    }
    return m_currentLanguageId;
}

QLocale TMgLang::Locale() const
{
    return LocaleForLanguage(LoadedLanguageId(), QLocale::system());
}

int TMgLang::CodePage() const
{
    if (m_namedCodePage > 0 && CanDecodeCodePage(m_namedCodePage))
        return m_namedCodePage;
    return CodePageOfLanguage(m_currentLanguageId);
}

void TMgLang::useCodePage()
{
    SetUserTextCodePage(CodePage());
}

void TMgLang::loadFile(const QString& name)
{
    const std::optional<QByteArray> bytes = readLanguageFile(languageFilePath(m_languagesFolder, name));
    if (!bytes)
        return;
    for (const TMgLangItem& item : ParseLanguageFile(*bytes)) {
        storeItem(m_items, item.Key, item.Text);
        if (item.Key == CodePageKey)
            m_namedCodePage = TrimBlanks(item.Text).toInt();
    }
}

void TMgLang::LoadStartupLanguage(int savedLanguageId)
{
    m_currentLanguageId = savedLanguageId;
    const int index = FindCurrentLanguage();
    LoadLanguage(index >= 0 ? m_languageList.at(index).Name : QStringLiteral("en"), false);
}

void TMgLang::ChooseLanguage(int languageId)
{
    m_currentLanguageId = languageId;
    const int index = FindCurrentLanguage();
    LoadLanguage(index >= 0 ? m_languageList.at(index).Name : QStringLiteral("en"), true);
}

QList<LanguageMenuItem> TMgLang::LanguageMenuItems() const
{
    QList<LanguageMenuItem> menu;
    for (const TMgLangListItem& entry : m_languageList) {
        // "??" is what a name looked like where the system could not show its script; such a file
        // was made for another system and stays out of the menu.
        if (entry.DisplayName.startsWith(QStringLiteral("??")))
            continue;
        menu.append({entry.DisplayName, entry.LanguageId, entry.LanguageId == m_currentLanguageId});
    }
    return menu;
}

bool TMgLang::HasText(int key) const
{
    return std::any_of(m_items.begin(), m_items.end(), [key](const TMgLangItem& item) { return item.Key == key; });
}

QString TMgLang::GetText(int key, const QString& defaultText) const
{
    for (const TMgLangItem& item : m_items) {
        if (item.Key == key)
            return item.Text;
    }
    return defaultText;
}
