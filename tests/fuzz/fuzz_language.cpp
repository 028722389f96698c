// A language file as a translator (or anybody) may have written it. Reading it never fails, keys are
// the four digits of a key line, every "##" became a line break, and a listed file loads.
#include "FuzzSupport.h"
#include "core/mglib/MgLanguages.h"

#include <QDir>
#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = InputBytes(data, size);
    const QList<TMgLangItem> items = ParseLanguageFile(bytes);
    QSet<int> keys;
    for (const TMgLangItem& item : items) {
        Require(item.Key >= 0 && item.Key <= 9999, "a key is four decimal digits");
        Require(!keys.contains(item.Key), "a later key replaces an earlier one in place");
        Require(!item.Text.contains(QStringLiteral("##")), "every ## is a line break");
        keys.insert(item.Key);
    }

    // The same bytes as the only file of a Langs folder: listed or not, loading it never fails.
    static const QString folder = ScratchFolder() + QStringLiteral("/Langs/");
    static const bool made = QDir().mkpath(folder);
    Require(made, "the languages folder exists");
    PutFile(folder + QStringLiteral("Fuzz.txt"), bytes);
    const QList<TMgLangListItem> list = BuildLanguageList(folder);
    Require(list.size() <= 1, "one file lists at most one language");
    TMgLang lang(folder, 1049);
    for (const TMgLangListItem& entry : list) {
        Require(entry.Name == QStringLiteral("Fuzz"), "a listed language is named after its file");
        Require(entry.LanguageId > 0 && !entry.DisplayName.isEmpty(), "a listed language has a name and an id");
        lang.ChooseLanguage(entry.LanguageId);
        Require(lang.LanguageName() == entry.Name, "choosing a listed language loads its file");
        Require(lang.LanguageMenuItems().size() <= 1, "the menu lists what the folder holds");
    }
    for (const LangText& text : Text::All) {
        const QString value = lang.GetText(text);
        Require(keys.contains(text.key) || list.isEmpty() || value == text.English(),
                "a key the file lacks keeps its English text");
    }
    FormatText(lang.GetText(Text::DeleteAlarmQuestion), {QStringLiteral("07:00")});
    return 0;
}
