// cArch's tree operations against the host's own tools, on the same trees in
// the same run: ejecutaDir (mode 1) against find, CopiaCarpeta against
// cp -r, vaciaCarpeta against rm -rf.  Trees of 20,000 files in 500 folders
// and of half that, so that the growth from doubling can be read off as well
// (a listing holds at most 32767 entries, so 20,000 is the larger tree).  Each
// figure is the best of a few runs (the machine is shared); the tools are
// started through the shell, which adds about a millisecond to theirs.
//
// The trees live in memory (/dev/shm) where there is one, so that the figures
// compare the programs rather than the moods of a shared disk; BENCH_DIR
// names another folder for them.
//
// Usage: bench_files [runs]   (default 3)

#include "files/cArch.h"
#include "platform/hostfs/HostPath.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

struct Shape {
    int groups;          // top-level folders
    int foldersPerGroup; // subfolders of each, besides the group itself
    int filesPerFolder;
    int folders() const { return groups * (foldersPerGroup + 1); }
    int files() const { return folders() * filesPerFolder; }
};

void makeFiles(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile f(folder + QStringLiteral("/f%1.txt").arg(i, 4, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
        f.write("contenido de prueba\n");
    }
}

void makeTree(const QString& root, const Shape& shape) {
    for (int g = 0; g < shape.groups; ++g) {
        const QString group = root + QStringLiteral("/g%1").arg(g, 3, 10, QLatin1Char('0'));
        makeFiles(group, shape.filesPerFolder);
        for (int d = 0; d < shape.foldersPerGroup; ++d) {
            makeFiles(group + QStringLiteral("/d%1").arg(d, 3, 10, QLatin1Char('0')),
                      shape.filesPerFolder);
        }
    }
}

void shell(const QString& command) {
    if (std::system(command.toLocal8Bit().constData()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.toLocal8Bit().constData());
        std::exit(1);
    }
}

QString quoted(const QString& path) { return u'\'' + path + u'\''; }

// The best time of `runs` runs of `timed`, each after an untimed `prepare`.
double bestSeconds(int runs, const std::function<void()>& prepare,
                   const std::function<void()>& timed) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        timed();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

struct Pair {
    double ours;
    double tool;
};

struct Figures {
    Pair list;
    Pair copy;
    Pair empty;
};

Figures measure(const QString& work, const Shape& shape, int runs) {
    const QString src = work + QStringLiteral("/src");
    const QString dst = work + QStringLiteral("/dst");
    makeTree(src, shape);
    const QString winSrc = hostfs::windowsPathOf(src);
    const QString winDst = hostfs::windowsPathOf(dst);
    std::fprintf(stderr, "tree of %d files made\n", shape.files());
    const auto nothing = [] {};
    const auto clearDst = [&] { shell("rm -rf " + quoted(dst)); };
    const auto copyDst = [&] {
        shell("rm -rf " + quoted(dst) + " && cp -r " + quoted(src) + ' ' + quoted(dst));
    };
    Figures f{};
    cArch a;

    f.list.ours = bestSeconds(runs, nothing, [&] {
        a.ejecutaDir(winSrc, QStringLiteral("*.*"), 0, 1);
        if (a.nArchivos() != shape.files()) {
            std::fprintf(stderr, "listing found %d files\n", a.nArchivos());
            std::exit(1);
        }
    });
    f.list.tool =
        bestSeconds(runs, nothing, [&] { shell("find " + quoted(src) + " -type f > /dev/null"); });

    std::fprintf(stderr, "listing: %.3f / %.3f\n", f.list.ours, f.list.tool);
    f.copy.ours = bestSeconds(runs, clearDst, [&] {
        if (!a.CopiaCarpeta(winSrc, winDst, 1, true)) {
            std::fprintf(stderr, "CopiaCarpeta failed\n");
            std::exit(1);
        }
    });
    f.copy.tool =
        bestSeconds(runs, clearDst, [&] { shell("cp -r " + quoted(src) + ' ' + quoted(dst)); });

    std::fprintf(stderr, "copy: %.3f / %.3f\n", f.copy.ours, f.copy.tool);
    f.empty.ours = bestSeconds(runs, copyDst, [&] {
        if (!a.vaciaCarpeta(winDst) || QFile::exists(dst)) {
            std::fprintf(stderr, "vaciaCarpeta left the folder\n");
            std::exit(1);
        }
    });
    f.empty.tool = bestSeconds(runs, copyDst, [&] { shell("rm -rf " + quoted(dst)); });
    shell("rm -rf " + quoted(src) + ' ' + quoted(dst));
    return f;
}

void printRow(const char* what, const Pair& small, const Pair& large) {
    std::printf("%-28s %9.3f %9.3f %6.2f   %9.3f %9.3f %6.2f   %6.2f\n", what, small.ours,
                small.tool, small.ours / small.tool, large.ours, large.tool,
                large.ours / large.tool, large.ours / small.ours);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const QByteArray chosen = qgetenv("BENCH_DIR");
    const QString parent = !chosen.isEmpty() ? QString::fromLocal8Bit(chosen)
                           : QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
    QTemporaryDir work(parent + QStringLiteral("/bench_files-XXXXXX"));
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const Shape small{10, 24, 40};
    const Shape large{20, 24, 40};
    std::printf(
        "trees in %s: %d files in %d folders, and %d files in %d folders; best of %d runs\n\n",
        parent.toLocal8Bit().constData(), small.files(), small.folders(), large.files(),
        large.folders(), runs);
    const Figures s = measure(work.path(), small, runs);
    const Figures l = measure(work.path(), large, runs);
    std::printf("%-28s %9s %9s %6s   %9s %9s %6s   %6s\n", "seconds", "cArch", "tool", "ratio",
                "cArch x2", "tool x2", "ratio", "growth");
    printRow("ejecutaDir mode 1 / find", s.list, l.list);
    printRow("CopiaCarpeta / cp -r", s.copy, l.copy);
    printRow("vaciaCarpeta / rm -rf", s.empty, l.empty);
    return 0;
}
