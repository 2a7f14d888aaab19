#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <cstring>
#if defined(__linux__)
#include <fcntl.h>
#endif
#include <iostream>

#include "app/CrashGuard.h"
#include "app/HeldRecord.h"
#include "app/MainThreadTasks.h"
#include "app/MixerLog.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "app/StationListening.h"
#include "app/UserOptions.h"
#include "engine/Core.h"
#include "mixer/MixerChoice.h"
#include "mixer/VolumeOwner.h"
#include "platform/LocalTime.h"
#include "platform/ProgramNames.h"
#include "settings/FileSettingsStore.h"
#include "ui/AppIcon.h"
#include "ui/MainWindow.h"
#include "ui/TrayIcon.h"

namespace {

// On X11 or Wayland, Qt aborts with a backtrace when there is no display to connect to; say what
// is missing instead.
bool hasGraphicalSession() {
#if defined(__linux__)
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// A start that cannot run says why, where a start from a menu shows it as well as in a terminal.
int tellAndEnd(int argc, char* argv[], const std::string& text) {
    std::cerr << text << '\n';
    QApplication app(argc, argv);
    QMessageBox box(QMessageBox::Information, hushwell::kProgramName, QString::fromStdString(text));
    box.exec();
    return 1;
}

// A program started with a standard stream closed would give that number to the next thing it
// opens (the one-copy socket, say), which a child then inherits as that stream: fill the gap.
void fillClosedStandardStreams() {
#if defined(__linux__)
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            (void)open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // the lowest free number: fd
        }
    }
#endif
}

// The argument the autostart entry (and Windows' Run value) passes: the desktop started this run.
bool startedWithDesktop(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], hushwell::kAutostartOption) == 0) {
            return true;
        }
    }
    return false;
}

// At log-in the sound server may answer after Hushwell starts: a start with the desktop waits
// this long for it, trying each second, before the mixer counts as not there.
constexpr std::chrono::minutes kServerPatience{1};
constexpr std::chrono::seconds kServerRetry{1};

// Start-up again each second while it waits for the mixer; `started` once it ended otherwise.
// The timer stands still during a start-up: one may show a message, whose loop runs timers.
void finishStartUpLater(hushwell::Core& core, const std::function<bool()>& patient,
                        const std::function<void()>& started, QObject* context) {
    auto* retry = new QTimer(context);
    retry->setSingleShot(true);
    retry->setInterval(kServerRetry);
    QObject::connect(retry, &QTimer::timeout, context, [&core, patient, started, retry] {
        if (core.shutDown.ending()) {
            retry->deleteLater();
        } else if (core.startUp(patient()) == hushwell::StartUpOutcome::WaitingForMixer) {
            retry->start();
        } else {
            retry->deleteLater();
            started();
        }
    });
    retry->start();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> guardStatus = hushwell::CrashGuard::runIfGuard()) {
        return *guardStatus;
    }
    fillClosedStandardStreams();
    if (!hasGraphicalSession()) {
        std::cerr << "Hushwell needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is "
                     "set.\n";
        return 1;
    }
    // Before anything touches the volume or the settings: one copy per user's sound server.
    std::string elsewhere;
    const std::unique_ptr<hushwell::SingleInstance> instance =
        hushwell::SingleInstance::claim(&elsewhere);
    if (!instance) {
        return elsewhere.empty() ? 0 : tellAndEnd(argc, argv, elsewhere);
    }

    const bool withDesktop = startedWithDesktop(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(hushwell::kProgramName);
    QApplication::setWindowIcon(hushwell::appIcon());
    QGuiApplication::setDesktopFileName(hushwell::kProgramId);

    // The mixer works on a thread of its own; what it reports comes back on the window's. The
    // guard learns from it what landed.
    hushwell::MainThreadTasks reports;
    const auto patientUntil = std::chrono::steady_clock::now() + kServerPatience;
    const std::function<bool()> patient = [withDesktop, patientUntil] {
        return withDesktop && std::chrono::steady_clock::now() < patientUntil;
    };
    auto providers = std::make_unique<hushwell::ChosenProvider>(hushwell::platformProviders(),
                                                                hushwell::logMixerCall, patient);
    const hushwell::ChosenProvider& opened = *providers;  // the owner's, read on its thread
    hushwell::VolumeOwner volume(std::move(providers), [&reports](std::function<void()> task) {
        reports.post(std::move(task));
    });
    hushwell::CrashGuard guard([&volume] { volume.tellAgain(); });
    volume.observe([&guard, &opened](const hushwell::VolumeOwner::Record& record) {
        std::vector<std::pair<std::string, std::string>> owedOn;
        for (const auto& [program, output] : record.owedOn) {
            owedOn.emplace_back(program, output);
        }
        guard.tell(record.upValue, record.scale, record.held, opened.chosenIndex(), record.program,
                   record.owed, owedOn);
    });
    // A run that ended with its guard while the volume was held: its Up level goes back first.
    // The record of a version before the records per server may be another server's: it goes
    // back only on a volume of its scale that stands below its Up value, and only then is it
    // this server's.
    const hushwell::HeldRecord record;
    std::optional<hushwell::HeldLevel> left = record.read();
    const bool earlierVersion = !left && (left = record.readEarlierVersion()).has_value();
    if (left) {
        hushwell::VolumeRules::EarlierRun earlier{
            left->upValue, left->scale, left->held ? std::optional(left->program) : std::nullopt,
            left->owed, earlierVersion};
        if (earlierVersion) {
            earlier.taken = [record] { record.takeEarlierVersion(); };
        }
        for (const auto& [program, output] : left->owedOn) {
            earlier.owedOn.push_back({program, output});
        }
        volume.putBackFirst(std::move(earlier));
    }

    hushwell::SystemClock clock;
    const hushwell::SettingsLocation location = hushwell::SettingsLocation::forThisProgram();
    hushwell::FileSettingsStore store(location);
    hushwell::MainWindow window(clock);
    guard.onRecordProblem([&reports, &window](const std::string& text) {
        reports.post([&window, text] { window.showMessage(text); });
    });
    hushwell::UserOptions options(hushwell::OptionsFile::besideSettings(location), volume, window);
    options.load();
    hushwell::Core core(volume, clock, window, store, hushwell::systemTimeSeparator());
    window.attach(core);
    instance->onAsked([&window] { window.bringToFront(); });
    // However the run ends, a start from then on waits for it rather than asking it to the front.
    core.shutDown.onEnding([&instance] { instance->beginEnding(); });

    // A signal asks no question: unsaved edits are not written behind the user's back. It may come
    // while start-up shows a message, before the main loop runs: exit() leaves every running loop,
    // the message box's too, and the main loop is then not entered at all.
    hushwell::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &hushwell::QuitSignals::received, &app, [&core] {
        core.shutDown.restoreUpLevel();
        QCoreApplication::exit(0);
    });

    const auto started = [&core, &left, &options] {
        if (left && left->heldWhatIsLowered(options.options().lowerOnly)) {
            // What is in force after the put-back is not known (it may not land, and this run's
            // Up level may be another): the first tick applies what the schedule wants.
            core.model.setAppliedVolume(std::nullopt);
        }
    };
    if (core.startUp(patient()) == hushwell::StartUpOutcome::WaitingForMixer) {
        finishStartUpLater(core, patient, started, &app);
    } else {
        started();
    }
    // The fingerprints of the marks stand beside the options, never in the settings file.
    hushwell::StationListening listening(
        core, clock, window, reports,
        options.file().saveTo().parent_path() / hushwell::kPrintFileName,
        [&options] { return options.options().lowerOnly; },
        [&window] { return window.isVisible() && !window.isMinimized(); });
    core.following.onSwitch(hushwell::logMixerCall);
    int status = 0;
    if (!core.shutDown.ending()) {
        window.show();       // the main window opens whatever start-up found
        options.carryOut();  // may tell of a problem, over the window
        options.onFollowStation([&listening](bool on) { listening.setOn(on); });
    }
    std::unique_ptr<hushwell::TrayIcon> tray;
    if (!core.shutDown.ending()) {
        // The icon finds the panel itself, however late it comes.
        tray = std::make_unique<hushwell::TrayIcon>(window, core);
        options.offerIn(*tray);
    }
    if (!core.shutDown.ending()) {
        status = QApplication::exec();
    }
    // A later start still finds this copy, but asks nothing of a window that is going.
    instance->beginEnding();
    return status;
}
