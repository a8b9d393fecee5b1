#include "migrate/importersandbox.h"

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kestrella {
namespace {

// libmdb reads MDB_* variables that change how it decodes text and what it prints: the reader gets
// none of the user's environment.
QProcessEnvironment importerEnvironment()
{
    QProcessEnvironment env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        if (system.contains(name))
            env.insert(name, system.value(name));
    }
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return env;
}

} // namespace

void sandboxImporter(QProcess& reader, std::chrono::milliseconds timeLimit, qint64 memoryLimit)
{
    reader.setProcessEnvironment(importerEnvironment());
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.setStandardErrorFile(QProcess::nullDevice());
    const pid_t parent = ::getpid();
    const rlim_t memory = importerMemoryLimitApplies() ? rlim_t(memoryLimit) : 0;
    const rlim_t cpu = rlim_t(std::chrono::ceil<std::chrono::seconds>(timeLimit).count() + 1);
    // Runs in the child before the reader starts: only async-signal-safe calls.
    reader.setChildProcessModifier([parent, memory, cpu] {
        const rlimit noCore{0, 0}; // a core dump would hold the file's passwords in clear
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (memory > 0) {
            const rlimit space{memory, memory};
            ::setrlimit(RLIMIT_AS, &space);
        }
        const rlimit seconds{cpu, cpu + 1}; // a backstop should the parent's own clock not get to it
        ::setrlimit(RLIMIT_CPU, &seconds);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // the reader never outlives the program
        // The program may have died before the death signal was asked for.
        if (::getppid() != parent)
            ::_exit(126);
    });
}

bool importerMemoryLimitApplies()
{
#ifdef KESTRELLA_SANITIZED_BUILD
    return false;
#else
    return true;
#endif
}

} // namespace kestrella
