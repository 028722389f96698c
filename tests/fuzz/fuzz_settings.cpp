// Data.ini as anybody may have left it. Reading never fails and stays bounded; what the program writes
// into such a file reads back as written, and every other setting in it keeps its value.
#include "FuzzSupport.h"
#include "core/alarms/AlarmRecord.h"
#include "core/app/AppIni.h"
#include "core/app/ProfileDocument.h"
#include "core/mglib/TextFile.h"

#include <QFile>
#include <QStringList>

namespace {

const QString kMain = QStringLiteral("Main");
constexpr int kLargestFuzzedList = 64;

QStringList probeKeys()
{
    QStringList keys;
    for (const BoolSetting& s : {Settings::FirstStarted, Settings::ShowFloatingWindow, Settings::StayOnTop,
                                 Settings::HideDonate, Settings::IsSingleLine, Settings::FloatingOnTop})
        keys.append(QString::fromUtf16(s.name));
    for (const IntSetting& s : {Settings::Language, Settings::SnoozeTime, Settings::PlaySoundDuration})
        keys.append(QString::fromUtf16(s.name));
    for (const char* suffix : {"Top", "Left", "Height", "Width", "State"})
        keys.append(QStringLiteral("TMainForm") + QLatin1String(suffix));
    keys.append({QStringLiteral("AlarmsListCount"), QStringLiteral("AlarmsList0"), QStringLiteral("AlarmsList1")});
    return keys;
}

QString valueOr(const ProfileDocument& doc, const QString& section, const QString& key)
{
    return doc.value(section, key).value_or(QStringLiteral("<absent>"));
}

void checkDocument(const QString& text, const QString& alarm)
{
    static const QStringList keys = probeKeys();
    const ProfileDocument doc(text);
    const ProfileDocument reread(doc.toText());
    Require(reread.toText() == doc.toText(), "writing a document out and reading it back changes nothing");
    for (const QString& section : {kMain, QStringLiteral("Other")}) {
        for (const QString& key : keys)
            Require(valueOr(reread, section, key) == valueOr(doc, section, key), "a value survives a round trip");
    }

    ProfileDocument changed = doc;
    changed.setValue(kMain, QStringLiteral("AlarmsList0"), alarm);
    const ProfileDocument written(changed.toText());
    Require(ParseAlarmString(written.value(kMain, QStringLiteral("AlarmsList0")).value_or(QString())) ==
                ParseAlarmString(alarm),
            "an AlarmString written into any file reads back as the same alarm");
    for (const QString& key : keys) {
        if (key.compare(QStringLiteral("AlarmsList0"), Qt::CaseInsensitive) != 0)
            Require(valueOr(written, kMain, key) == valueOr(doc, kMain, key), "writing one key leaves the others");
        Require(valueOr(written, QStringLiteral("Other"), key) == valueOr(doc, QStringLiteral("Other"), key),
                "writing leaves other sections alone");
    }
}

void checkStore(const QByteArray& bytes, const QString& alarm)
{
    static const QString folder = ScratchFolder();
    static const QString path = folder + QStringLiteral("/Data.ini");
    PutFile(path, bytes);

    TAppIni ini(folder, folder);
    ini.SetFileName(path);
    const QStringList list = ini.ReadList(Settings::Alarms);
    Require(list.size() <= TAppIni::kMaxListItems, "a list read from any file is bounded");
    const int snooze = ini.Read(Settings::SnoozeTime);
    const bool onTop = ini.Read(Settings::StayOnTop);
    const FormGeometry geometry = ini.RestoreFormGeometry(QStringLiteral("TMainForm"), {}, false, true);

    // What the program saves: the list as it read it, plus one more alarm.
    QStringList saved = list;
    saved.append(alarm);
    if (!ini.WriteList(Settings::Alarms, saved)) {
        // A file that is not read is never written either; it must be left exactly as it was.
        Require(QFile(path).size() == bytes.size(), "a refused file is left as it was");
        return;
    }
    TAppIni fresh(folder, folder);
    fresh.SetFileName(path);
    const QStringList reread = fresh.ReadList(Settings::Alarms);
    Require(reread.size() == saved.size(), "the saved list has as many items as were written");
    Require(ParseAlarmString(reread.last()) == ParseAlarmString(alarm), "the added alarm reads back");
    for (qsizetype i = 0; i < list.size(); ++i) {
        // Blanks around a value and one pair of enclosing quotes are lost on reading, as the profile
        // functions do; the program never writes such a value (an AlarmString begins with its minutes).
        const QString& item = list.at(i);
        const bool plain =
            item.isEmpty() ||
            (item.front() != u' ' && item.front() != u'\t' && item.back() != u' ' && item.back() != u'\t' &&
             !(item.size() >= 2 && (item.front() == u'"' || item.front() == u'\'') && item.back() == item.front()));
        Require(!plain || reread.at(i) == item, "each saved item reads back as it was");
    }
    Require(fresh.Read(Settings::SnoozeTime) == snooze, "saving the list keeps the other settings");
    Require(fresh.Read(Settings::StayOnTop) == onTop, "saving the list keeps the other settings");
    const FormGeometry after = fresh.RestoreFormGeometry(QStringLiteral("TMainForm"), {}, false, true);
    Require(after.top == geometry.top && after.width == geometry.width, "saving the list keeps the placement");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = InputBytes(data, size);
    // An alarm with a label and sound taken from the input, as the editor would save it.
    AlarmRecord record = ParseAlarmString(QString::fromUtf8(bytes.left(400)));
    record.Label = QString::fromUtf8(bytes.right(120));
    const QString alarm = BuildAlarmString(record);
    const QString text = DecodeUserText(bytes);
    checkDocument(text, alarm);
    // A list count beyond a few dozen makes every mutation of the input slower without reaching new code;
    // the bound on such counts is checked by tst_hostilefiles.
    const auto count = ProfileDocument(text).value(kMain, QStringLiteral("AlarmsListCount"));
    if (!count || ParseProfileInteger(*count).value_or(0) <= kLargestFuzzedList)
        checkStore(bytes, alarm);
    return 0;
}
