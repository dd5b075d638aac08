// Fuzz target over the module engine without windows: the module session as the program
// wires it (the serial object on an in-memory line, the reply parser, the read cycle and
// the file-capture path).
//
// The input holds two streams. Received bytes are taken from its front; the schedule is
// taken from its back, one byte per step (then the step's own arguments): how many bytes
// arrive next, which timer expires, a display-format switch, the capture window opening
// or closing, its silence running out or its file saved, the line lost or the port
// reopened, a DSR
// change, the probe, the refresh buttons and a frequency write. No time passes: posted events are
// delivered by hand until none is left, and a timer fires only when the schedule says so, so one
// input runs in microseconds and always runs the same way.
//
// After every step the link's invariants are checked, not only that nothing crashed:
//  - the link is never deaf: with no receive events (threshold 0) the collection timer
//    is armed; bytes that complete what the parser or the capture waits for are taken,
//    or a timer is armed that will take them;
//  - after a lost line or a reopening the parser is idle, its timers stopped;
//  - the capture buffer stays within its bound, and no state outgrows its range;
//  - a file ends at its announced length at the latest: a file never holds a byte past
//    it, and what follows it is not taken while the file waits to be saved;
//  - nothing the capture path takes off the line disappears: every byte it took in a
//    step is a header byte, kept in a file, handed back to be shown, or counted as
//    dropped (past the buffer's end, a header cut short, or by the serial object when
//    its input buffer is full); and the bytes kept are exactly those of the files that
//    ended, the file under way and the files given up by closing the window;
//  - at the end, whatever the input did, the link recovers: completing any reply left
//    half way and firing the timers leaves the parser idle, and a probe answer D7 FD is
//    heard.
// A broken invariant aborts with a message and the link's state.
#include "link/memorybackend.h"
#include "link/modulesession.h"
#include "protocol/frames.h"
#include "serial/portopen.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Counts every event delivered, so that settling knows when nothing is left to do.
class CountingApp : public QCoreApplication {
  public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        ++delivered;
        return QCoreApplication::notify(receiver, event);
    }
    quint64 delivered = 0;
};

CountingApp& app() {
    static int argc = 1;
    static char name[] = "t83fuzz";
    static char* argv[] = {name, nullptr};
    static CountingApp* instance = new CountingApp(argc, argv);
    return *instance;
}

// The parser writes portstate.dat into the working directory, so each input runs in a
// scratch directory; between inputs the caller's directory is back, where libFuzzer
// reads its corpus and writes what it finds.
class ScratchDirectory {
  public:
    ScratchDirectory() : caller_(QDir::currentPath()) {
        static QTemporaryDir scratch;
        if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
            std::fprintf(stderr, "t83fuzz: no scratch directory\n");
            std::abort();
        }
    }
    ~ScratchDirectory() { QDir::setCurrent(caller_); }

  private:
    QString caller_;
};

// Received bytes from the front, the schedule from the back.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), back_(size) {}
    size_t left() const { return back_ - front_; }
    uint8_t control() { return left() ? data_[--back_] : 0; }
    QByteArray bytes(size_t n) {
        n = std::min(n, left());
        QByteArray out(reinterpret_cast<const char*>(data_ + front_), static_cast<qsizetype>(n));
        front_ += n;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t front_ = 0;
    size_t back_;
};

// Payload length and the least the parser takes, by payload state 2..15.
struct Payload {
    int length;
    int minimum;
};
constexpr Payload kPayloads[] = {{6, 6}, {2, 2}, {2, 2}, {1, 1}, {2, 2}, {11, 10}, {1, 1},
                                 {1, 1}, {1, 1}, {3, 3}, {4, 4}, {1, 1}, {1, 1},   {1, 1}};

const char* const kSettings[] = {"9600,n,8,1", "1200,n,8,1", "56000,E,8,1", "110,n,8,1"};

// More rounds of posted events than any input needs (a megabyte shown as hex takes a
// few hundred): beyond, events keep coming for ever.
constexpr int kMaxRounds = 20000;
// More timer rounds than the longest chain (probe, read cycle, prompt, poll) needs.
constexpr int kMaxTimerRounds = 1000;

class Harness {
  public:
    Harness()
        : session([](int port) { return port == 1 ? QStringLiteral("mem") : QString(); },
                  [this](const QString&) { return std::make_unique<MemoryBackend>(&line); }),
          link(session.link()), comm(link.MSComm1), parser(link.parser), cycle(link.cycle),
          capture(session.capture()) {
        // The session runs the module's sequences as it does in the program; the harness
        // plays the windows' part: messages that are modal, the capture window.
        QObject::connect(&session, &ModuleSession::answered, &link, [this] { ++answers; });
        QObject::connect(&session, &ModuleSession::moduleStatus, &link, [this] { modal(); });
        QObject::connect(&parser, &ReplyParser::portStateFileFailed, &link, [this] { modal(); });
        QObject::connect(
            &session, &ModuleSession::lineLost, &link, [this] { lineLost(); },
            Qt::QueuedConnection);
        // The capture window's notices hold up nothing: the window goes on at once.
        QObject::connect(&capture, &CapturePath::badHeader, &link, [this] {
            setCaptureOpen(false);
            capture.drainLeftover();
        });
        // The capture window's silence: from the marker, from every arrival while the
        // header is taken, and from every data byte; not between header and data.
        QObject::connect(&capture, &CapturePath::markerRead, &link,
                         [this] { silenceArmed = true; });
        QObject::connect(&comm, &CommControl::bytesArrived, &link, [this] {
            if (captureOpen && (capture.CaptureState == 1 || capture.CaptureState == 2))
                silenceArmed = true;
        });
        QObject::connect(&capture, &CapturePath::headerRead, &link,
                         [this] { silenceArmed = false; });
        QObject::connect(&capture, &CapturePath::dataArrived, &link,
                         [this] { silenceArmed = true; });
        // A complete file needs no silence; one past the buffer waits for the end of its
        // rest.
        QObject::connect(&capture, &CapturePath::fileComplete, &link, [this] {
            silenceArmed = false;
            if (capture.CaptureState != 4 ||
                static_cast<quint32>(capture.CaptureCount) != capture.CaptureLength ||
                capture.CaptureBuffer.size() != capture.CaptureCount)
                violated("a complete file does not hold exactly its announced length");
            filed += capture.CaptureCount;
            ++filesEnded;
        });
        QObject::connect(&capture, &CapturePath::overflow, &link, [this] {
            if (capture.CaptureCount != CapturePath::kBufferSize ||
                capture.CaptureLength <= static_cast<quint32>(CapturePath::kBufferSize))
                violated("a file ended at the buffer's end that fits in it, or does not fill it");
            filed += capture.CaptureCount;
            ++filesEnded;
        });
        QObject::connect(&capture, &CapturePath::fileCutShort, &link, [this](qint32 count) {
            if (count <= 0 || static_cast<quint32>(count) >= capture.CaptureLength ||
                count != capture.CaptureCount)
                violated("a file cut short is not short of its announced length");
            filed += count;
            ++filesEnded;
        });

        // Start-up: the port opens, the probe goes.
        if (!OpenPort(comm, 1, QString::fromLatin1(kSettings[0])).ok())
            violated("the in-memory port did not open");
        link.sendProbe();
        settle();
    }

    void run(Input& in) {
        while (in.left() > 0) {
            const Accounts before = accounts();
            disturbed = false;
            step(in);
            line.takeWritten();
            line.clearTimeline();
            check();
            checkAccounts(before);
        }
        recover();
    }

  private:
    void step(Input& in) {
        const uint8_t c = in.control();
        switch (c % 16) {
        case 8:
            feed(in.bytes(size_t(in.control()) * 4 + 17));
            break;
        case 9: {
            // A long run of one byte: long enough to fill the capture buffer while a
            // capture takes data, where it is cheap; short elsewhere.
            const char value = static_cast<char>(in.control());
            const int count = in.control();
            // Also while a file waits to be saved: what follows it then outgrows the
            // input buffer.
            const bool taking = captureOpen && capture.CaptureState >= 3;
            feed(QByteArray(taking ? (count + 1) * 4096 : count + 1, value));
            break;
        }
        case 10:
            fire(in.control() % kTimers);
            break;
        case 11:
            fireArmed();
            break;
        case 12:
            switchDisplay(!parser.ShowAsText);
            break;
        case 13:
            switch (in.control() % 4) {
            case 0:
                captureSilence();
                break;
            case 2:
                // The file that ended is saved or given up: the next one is taken.
                if (captureOpen) {
                    const bool waiting = capture.CaptureState == 4;
                    const int ended = filesEnded;
                    capture.release();
                    settle();
                    if (waiting && capture.CaptureState == 4 && filesEnded == ended)
                        violated("a file was saved and still holds the next transfer back");
                }
                break;
            default:
                disturbed = true;
                setCaptureOpen(!captureOpen);
                break;
            }
            settle();
            break;
        case 14:
            lineStep(in.control());
            break;
        case 15:
            moduleStep(in.control());
            break;
        default: // half of all steps: 1 to 16 bytes arrive
            feed(in.bytes(size_t(c >> 4) + 1));
            break;
        }
    }

    void feed(const QByteArray& bytes) {
        if (bytes.isEmpty())
            return;
        fed += bytes.size();
        line.feed(bytes);
        settle();
    }

    // Delivers posted events (receive events, queued signals, deferred deletes) until
    // none is left.
    void settle() {
        for (int round = 0;; ++round) {
            if (round > kMaxRounds)
                violated("events keep coming without end");
            const quint64 before = app().delivered;
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (app().delivered == before)
                return;
        }
    }

    // A modal message box runs an event loop of its own while it is up.
    void modal() {
        if (!modalMessages || nesting > 1)
            return;
        ++nesting;
        settle();
        --nesting;
    }

    // The timers of the link, and the capture window's silence (index kTimers - 1).
    static constexpr int kTimers = 7;
    const QTimer* timer(int i) const {
        switch (i) {
        case 0:
            return &parser.Timer6;
        case 1:
            return &parser.versionWaitTimer();
        case 2:
            return &cycle.Timer1;
        case 3:
            return &cycle.Timer2;
        case 4:
            return &cycle.Timer4;
        case 5:
            return &cycle.Timer5;
        default:
            return nullptr;
        }
    }
    bool armed(int i) const {
        const QTimer* t = timer(i);
        return t ? t->isActive() : silenceArmed && captureOpen;
    }
    bool anyArmed() const {
        for (int i = 0; i < kTimers; ++i)
            if (armed(i))
                return true;
        return false;
    }

    // Fires an armed timer as its expiry would: a one-shot stops, then times out.
    void fire(int i) {
        if (!armed(i))
            return;
        if (const QTimer* t = timer(i)) {
            // The harness owns these objects; the accessors are read-only only so that
            // program code cannot drive the timers.
            auto* running = const_cast<QTimer*>(t);
            running->stop();
            QMetaObject::invokeMethod(running, "timeout", Qt::DirectConnection);
        } else {
            captureSilence();
        }
        settle();
    }
    void fireArmed() {
        for (int i = 0; i < kTimers; ++i)
            fire(i);
    }
    void quiesce() {
        for (int round = 0; anyArmed(); ++round) {
            if (round > kMaxTimerRounds)
                violated("timers keep re-arming for ever");
            fireArmed();
            check();
        }
    }

    // The toolbar's display-format button.
    void switchDisplay(bool text) {
        link.setDisplayFormat(text ? Link::DisplayFormat::Text : Link::DisplayFormat::Hex);
        settle();
    }

    // The capture window opening or closing; closing gives up a file under way.
    void setCaptureOpen(bool open) {
        if (!open && captureOpen && capture.CaptureState == 3)
            discarded += capture.CaptureCount;
        captureOpen = open;
        silenceArmed = false;
        session.setCaptureOpen(open);
    }

    // The capture window's 300 ms of silence: a header cut short closes the window; data
    // short of its length is the file as far as it goes, kept for saving; the rest of a
    // file past the buffer is over.
    void captureSilence() {
        if (!captureOpen || !silenceArmed)
            return;
        silenceArmed = false;
        const bool header = capture.CaptureState == 1 || capture.CaptureState == 2;
        capture.endTransfer();
        if (header)
            setCaptureOpen(false);
    }

    void lineStep(uint8_t sub) {
        disturbed = true;
        switch (sub % 4) {
        case 0:
            line.unplug();
            break;
        case 3:
            line.setDsr(!line.dsr());
            break;
        default:
            reopen(sub);
            break;
        }
        settle();
    }

    // The port settings window's OK (close, then open) or a start-up style opening
    // (no close first); either may meet a busy line or a port that does not exist.
    void reopen(uint8_t sub) {
        const QString settings = QString::fromLatin1(kSettings[(sub >> 2) & 3]);
        const qint16 port = (sub & 0x40) ? 2 : 1;
        line.setBusy(sub & 0x20);
        link.resetToIdle();
        const bool startup = (sub % 4) == 2;
        const auto result =
            startup ? OpenPort(comm, port, settings) : ReopenPort(comm, port, settings);
        line.setBusy(false);
        checkIdle("reopening the port");
        if (result.ok() && (sub & 0x10))
            link.sendProbe();
    }

    // What the application does when the line goes away.
    void lineLost() {
        link.resetToIdle();
        if (captureOpen) {
            // The capture window keeps what came and waits for a next file.
            silenceArmed = false;
            capture.endTransfer();
        }
        checkIdle("losing the line");
    }

    void moduleStep(uint8_t sub) {
        switch (sub % 7) {
        case 0:
            if (comm.PortOpen())
                link.sendProbe();
            break;
        case 6:
            // A frequency write: its status reply is taken for a second.
            session.SendFrame(
                t83::FrequencyWriteFrame(QStringLiteral("229100"), QStringLiteral("229100")));
            break;
        case 1:
            cycle.startRefreshRead();
            break;
        case 2:
            cycle.startRefreshPoll();
            break;
        case 3:
            link.CommandBusy = !link.CommandBusy;
            break;
        case 4:
            modalMessages = !modalMessages;
            break;
        default:
            quiesce();
            break;
        }
        settle();
    }

    // Whatever the input did, the link must come back: the port open, shown as hex, no
    // capture; any reply left half way completed by eleven bytes that are no reply code
    // (an unlisted code then collects the rest); the timers fired; the parser idle; and
    // the probe's answer heard.
    void recover() {
        quiesce();
        if (captureOpen)
            setCaptureOpen(false);
        if (parser.ShowAsText)
            switchDisplay(false);
        if (!comm.PortOpen())
            reopen(1);
        settle();
        check();
        feed(QByteArray(11, '\0'));
        quiesce();
        check();
        if (parser.ReplyState != 0 || comm.InBufferCount() != 0)
            violated("the parser is not idle after a reply was completed and its timers fired");
        const int heard = answers;
        feed(QByteArray::fromHex("D7FD"));
        if (answers != heard + 1)
            violated("the probe's answer D7 FD was not heard");
        quiesce();
        check();
    }

    // What the link has received and what the capture path has taken, before a step.
    struct Accounts {
        bool counted = false; // the capture path had the line, and the port was open
        qint64 fed = 0;
        qint64 dropped = 0;
        int buffered = 0;
        qint64 taken = 0;
    };
    qint64 takenByCapture() const {
        const CapturePath::Taken& t = capture.taken();
        return t.header + t.kept + t.dropped + t.shown;
    }
    Accounts accounts() const {
        return {parser.receiveRoute() != nullptr && comm.PortOpen(), fed, comm.droppedBytes(),
                comm.InBufferCount(), takenByCapture()};
    }

    // A step in which the capture path had the line throughout (or gave it up after a
    // bad header, showing all there was) and the line stayed: every byte that left the
    // input buffer was taken by the path and went where its accounts say.
    void checkAccounts(const Accounts& before) {
        const qint64 inProgress = capture.CaptureState == 3 ? capture.CaptureCount : 0;
        if (capture.taken().kept != filed + discarded + inProgress)
            violated("the data bytes kept are not those of the files");
        if (!before.counted || disturbed || !comm.PortOpen())
            return;
        const qint64 arrived = (fed - before.fed) - (comm.droppedBytes() - before.dropped);
        const qint64 left = before.buffered + arrived - comm.InBufferCount();
        if (left != takenByCapture() - before.taken)
            violated("received bytes are neither in a file, shown nor counted as dropped");
    }

    void checkIdle(const char* after) {
        if (parser.ReplyState != 0 || parser.Timer6.isActive() ||
            parser.versionWaitTimer().isActive())
            violated(after, "the parser is not idle");
        if (!parser.receiveRoute() && (comm.RThreshold() != 1 || comm.InputLen() != 1))
            violated(after, "the receive configuration is not 1/1");
    }

    void check() {
        const int buffered = comm.InBufferCount();
        const int threshold = comm.RThreshold();
        const bool routed = parser.receiveRoute() != nullptr;
        const qint16 state = parser.ReplyState;
        const bool collecting = parser.Timer6.isActive();
        const bool versionWait = parser.versionWaitTimer().isActive();

        if (routed != captureOpen)
            violated("the capture path does not have the line exactly while capture is open");
        if (state < 0 || state > 15)
            violated("reply state out of range");
        if (threshold == 0 && (routed || state != 1 || !collecting))
            violated("no receive events and nothing armed to collect: the link is deaf");
        if (collecting && (routed || state != 1 || threshold != 0))
            violated("the collection timer runs outside an unlisted reply");
        if (versionWait && (routed || state != 7))
            violated("the version wait runs outside a version reply");

        if (!routed) {
            if (state == 0) {
                if (buffered != 0)
                    violated("the idle parser left received bytes unread");
                if (threshold != 1)
                    violated("the idle parser's threshold is not 1");
            } else if (state == 1) {
                if (!collecting && buffered != 0)
                    violated("a reply code waits and nothing reads it");
            } else {
                const Payload& payload = kPayloads[state - 2];
                if (buffered >= payload.length)
                    violated("a complete payload was left unread");
                if (buffered >= payload.minimum && !versionWait)
                    violated("a payload waits and nothing will take it");
                if (threshold > payload.minimum)
                    violated("the threshold lies beyond the payload: its last byte raises "
                             "no event");
            }
        } else {
            switch (capture.CaptureState) {
            case 1:
                if (!silenceArmed)
                    violated("a header has begun and nothing will end the wait");
                [[fallthrough]];
            case 0:
            case 3:
                if (buffered != 0)
                    violated("the capture path left received bytes unread");
                break;
            case 4:
                break; // the next transfer waits for the file to be saved
            case 5:
                if (buffered != 0)
                    violated("the rest of a file past the buffer was left unread");
                if (!silenceArmed)
                    violated("the rest of a file past the buffer is dropped without end");
                break;
            case 2: {
                const int rest = capture.CaptureNameLength + 5;
                if (!silenceArmed)
                    violated("a header is half taken and nothing will end the wait");
                if (buffered >= rest)
                    violated("a complete file header was left unread");
                if (threshold > rest)
                    violated("the threshold lies beyond the file header");
                break;
            }
            default:
                violated("capture state out of range");
            }
        }

        if (capture.CaptureBuffer.size() > CapturePath::kBufferSize ||
            capture.CaptureBuffer.capacity() > CapturePath::kBufferSize)
            violated("the capture buffer grew past its bound");
        if (capture.CaptureCount < 0 || capture.CaptureCount > capture.CaptureBuffer.size())
            violated("the capture count does not match the buffer");
        if (capture.CaptureState >= 3 &&
            static_cast<quint32>(capture.CaptureCount) > capture.CaptureLength)
            violated("a file holds bytes past its announced length");
        if (capture.CaptureState == 3 &&
            static_cast<quint32>(capture.CaptureCount) >= capture.CaptureLength)
            violated("a file at its announced length is still taking bytes");
        if (capture.CaptureNameLength < 0 || capture.CaptureNameLength > 255 ||
            capture.CaptureName.size() > 255)
            violated("the file name outgrew its 255 bytes");
        if (parser.ReplyBytes.size() > 11)
            violated("the reply's bytes outgrew 11");
        if (parser.ReplyPrefix.size() > 6)
            violated("the reply's prefix outgrew 6 characters");
        if (parser.PortStateTable.size() != 24)
            violated("the switch-port table is not 24 entries");
        if (cycle.readstep < 0 || cycle.readstep > 11 || cycle.PortQueryIndex < 0 ||
            cycle.PortQueryIndex > 8)
            violated("the read cycle's counters left their range");
    }

    [[noreturn]] void violated(const char* what, const char* detail = nullptr) const {
        std::fprintf(stderr,
                     "t83fuzz: invariant broken: %s%s%s\n"
                     "  port %s, ReplyState %d, RThreshold %d, InputLen %d, InBufferCount %d,"
                     " Timer6 %d, version wait %d, text %d\n"
                     "  capture %s, CaptureState %d, name length %d, length %u, count %d,"
                     " buffer %lld\n"
                     "  readstep %d, PortQueryIndex %d, Timer1 %d, Timer2 %d, Timer4 %d,"
                     " Timer5 %d\n",
                     what, detail ? ": " : "", detail ? detail : "",
                     comm.PortOpen() ? "open" : "closed", parser.ReplyState, comm.RThreshold(),
                     comm.InputLen(), comm.InBufferCount(), parser.Timer6.isActive(),
                     parser.versionWaitTimer().isActive(), parser.ShowAsText,
                     captureOpen ? "open" : "closed", capture.CaptureState,
                     capture.CaptureNameLength, capture.CaptureLength, capture.CaptureCount,
                     static_cast<long long>(capture.CaptureBuffer.size()), cycle.readstep,
                     cycle.PortQueryIndex, cycle.Timer1.isActive(), cycle.Timer2.isActive(),
                     cycle.Timer4.isActive(), cycle.Timer5.isActive());
        std::abort();
    }

    MemoryLine line;
    ModuleSession session;
    Link& link;
    CommControl& comm;
    ReplyParser& parser;
    ReadCycle& cycle;
    CapturePath& capture;
    bool captureOpen = false;
    bool silenceArmed = false;
    // Bytes fed to the line; data bytes of the files that ended, and of files under way
    // when the window closed.
    qint64 fed = 0;
    qint64 filed = 0;
    qint64 discarded = 0;
    int filesEnded = 0;
    // The step lost, reopened or touched the line's settings, or opened or closed the
    // capture window itself: its bytes are not all the capture path's to account for.
    bool disturbed = false;
    bool modalMessages = false;
    int nesting = 0;
    int answers = 0;
};

} // namespace

// A crash or a broken invariant stops the run inside an input, in the scratch directory:
// libFuzzer writes the input that did it to its artifact prefix, so a relative prefix
// (or none, the directory the run started in) is made absolute here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    app();
    static constexpr std::string_view kOption = "-artifact_prefix=";
    static std::string prefix;
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    const std::string here = QDir::currentPath().toStdString() + "/";
    int at = -1;
    for (int i = 1; i < *argc; ++i)
        if (std::string_view(args[i]).starts_with(kOption))
            at = i;
    if (at < 0) {
        prefix = std::string(kOption) + here;
        args.insert(args.begin() + 1, prefix.data());
    } else {
        const std::string given(args[at] + kOption.size());
        prefix = std::string(kOption) + (given.starts_with('/') ? given : here + given);
        args[at] = prefix.data();
    }
    *argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchDirectory scratch;
    Input in(data, size);
    Harness harness;
    harness.run(in);
    return 0;
}
