// Saves the alarm list through the settings store without end, alternating two lists of different
// lengths, the way the program saves after every change; the crash-safety test kills it at random
// moments. Usage: save_helper <Data.ini> <items of list A> <items of list B>
// Prints "saving <ms>" once list A is on disk, with the milliseconds that first save took.
#include "SaveLists.h"
#include "core/app/AppIni.h"
#include "core/mglib/TextFile.h"
#include "platform/FileCommit.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: save_helper <Data.ini> <items A> <items B>\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QStringList lists[] = {SaveTestList(u'A', std::atoi(argv[2])), SaveTestList(u'B', std::atoi(argv[3]))};
    SetFileCommitSteps({SyncFileToDisk, ReplaceFileAtomically, SyncFolderToDisk}); // as the program does
    TAppIni ini(QFileInfo(path).absolutePath(), QFileInfo(path).absolutePath());
    ini.SetFileName(path);
    QElapsedTimer first;
    first.start();
    for (unsigned long n = 0;; ++n) {
        ini.WriteList(Settings::Alarms, lists[n % 2]);
        if (n == 0) {
            std::printf("saving %lld\n", first.elapsed());
            std::fflush(stdout);
        }
    }
}
