// Looking on the web for newer versions of installed ships and of the installer
// itself, and fetching them. No widgets: the two update dialogs and drydock-cli
// drive these classes and show what they report.
//
// Everything goes over plain HTTP, one request at a time per object. Each address
// gets a countdown (30 s unless set otherwise); only status 200 counts as an
// answer, and every failure moves on to the next address. Update files are small
// text files ("version:", "file:", "script:" lines) and are refused above 64 KiB;
// downloads are refused above 1 GiB and are written through QSaveFile, so a file
// in Downloads is always complete.
//
// Texts handed out (status, log lines) are already formatted from the installer
// texts given to the constructor; log lines are rich text with every outside value
// escaped. Missing texts read "ReadText-" + number.
#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;
struct ShipPackage;
struct ShipRegistry;

// Numbers of the installer texts used by the update checks and their dialogs.
// They are stored in users' translation files: never renumber, only add.
namespace UpdateText {
enum : int {
    Yes = 7,
    No = 8,
    HeaderShip = 16,
    HeaderAuthor = 17,
    HeaderVersion = 18,
    Ok = 29,
    Installing = 35,
    ShipsCaption = 77,
    HeaderAddress = 78,
    HeaderStatus = 79,
    CheckNow = 80,
    DownloadUpdates = 81,
    InstallUpdates = 82,
    Skip = 83,
    Close = 84,
    SelectAll = 85,
    DeselectAll = 86,
    InvertSelection = 87,
    SelectStored = 88,
    StateConnecting = 89,
    StateReading = 90,
    StateDownloading = 91,
    Newer = 92,
    Same = 93,
    Older = 94,
    NoUpdate = 95,
    InstallOk = 96,
    InstallFailed = 97,
    NotInstalled = 98,
    CheckFailed = 99,
    FileWord = 100,
    Downloaded = 101,
    DownloadFailed = 102,
    NotChecked = 103,
    NothingToDoCaption = 104,
    NothingToCheck = 105,
    NothingToDownload = 106,
    NothingToInstall = 107,
    ReasonHttpStatus = 108,
    ReasonTimeOut = 109,
    ReasonOtherShip = 110,
    ReasonNoVersion = 111,
    ReasonNoFile = 112,
    ReasonNoScript = 113,
    ReasonTooLarge = 114,
    ReasonSkipped = 115,
    ReasonUnknownError = 116,
    ReasonNoAddress = 117,
    ReasonBadFileName = 118,
    ReasonNotSaved = 119,
    ProgramCaption = 120,
    UpToDateCaption = 121,
    UpToDateText = 122,
    NewVersionCaption = 123,
    NewVersionText = 124,
    ProgramFailedCaption = 125,
    ProgramFailedText = 126,
    ProgramDownloadFailed = 127,
    NewVersionLog = 131,
    Checking = 132,
    ReasonIncomplete = 133,
    ProgramStartFailed = 134,
};
} // namespace UpdateText

namespace UpdateCheck {

constexpr int kDefaultTimeoutSeconds = 30;
constexpr qint64 kMaxUpdateFileBytes = 64 * 1024;
constexpr qint64 kMaxDownloadBytes = qint64(1) << 30;

// The installer's own mirrors, tried in this order: the first three non-empty
// "UpdateMirror:" lines of the program folder's settings. Each names an update
// file; the program file lies in the same folder. No build of this source tree
// ships any: an empty list means that the program is not updated by itself.
QStringList ProgramMirrors(const QStringList& configured);

// An address of a package ("http://host/folder", "host:8080/folder" ...) as a
// plain-HTTP URL: the protocol prefix is dropped, the host is the text before the
// first "/" (port 80 unless it names one) and the rest is the path. Invalid when
// no host is left.
QUrl HttpUrl(const QString& address);
// Where a ship's update file lies below one of its addresses: "/" + folder + "/" +
// the ship's name without blanks + ".dat".
QUrl ShipUpdateUrl(const QString& address, const QString& shipName);
// The update-file URLs of a ship: web address, mirror 1, mirror 2, skipping empty
// and unusable ones.
QList<QUrl> ShipUpdateUrls(const ShipPackage& ship);
// The program file next to the mirror's update file.
QUrl ProgramFileUrl(const QUrl& mirror, const QString& file);
// The name a downloaded file is saved under: the last path component of the
// address, without query or fragment. Empty when that is no plain file name.
QString DownloadFileName(const QString& address);

struct UpdateFile
{
    std::optional<QString> version; // second blank-separated word of "version:"
    std::optional<QString> file;    // the address after "file:"
    std::optional<QString> script;  // the ship's name after "script:"
};
// Keys are compared without regard to case; the first line of a key counts.
// Nothing when the body is larger than kMaxUpdateFileBytes.
std::optional<UpdateFile> ParseUpdateFile(const QByteArray& body);
// The program's version from the "version:" value: 0 when it is no finite number.
double ProgramVersion(const UpdateFile& file);

// Why one address or one download failed.
struct Failure
{
    enum Kind {
        None,
        HttpStatus,   // detail: the status code
        NetworkError, // detail: the client's message
        TimeOut,      // detail: the seconds waited
        TooLarge,
        Incomplete,
        Skipped,
        NoAddress,
        NoVersion,
        NoFile,
        NoScript,
        OtherShip,   // detail: the name the file gives
        BadFileName, // detail: the address
        NotSaved,    // detail: the file system's message
    };
    Kind kind = None;
    QString detail;
    QString address; // what was asked for

    // Plain English, for drydock-cli and debug logs.
    QString reason() const;
    // In the user's language.
    QString text(const QStringList* installerTexts) const;
};

// Formats UI texts and log lines; shared by the checkers and the dialogs.
class UpdateTexts
{
public:
    explicit UpdateTexts(const QStringList* installerTexts) : m_texts(installerTexts) {}
    QString text(int n) const;
    const QStringList* list() const { return m_texts; }
    // Rich-text pieces; every argument is escaped.
    static QString green(const QString& plain);
    static QString red(const QString& plain);
    static QString blue(const QString& plain);

private:
    const QStringList* m_texts;
};

// Internal: one HTTP GET with its countdown, size limit and optional file sink.
class HttpFetch;

struct FetchResult
{
    bool ok = false;
    QByteArray body;   // update files only
    QString savedPath; // downloads only
    Failure failure;
};

struct ShipCheck
{
    QString name;
    QString author;
    QString installedVersion;
    QList<QUrl> urls; // update-file URLs, in the order tried

    static ShipCheck of(const ShipPackage& ship);
};

struct ShipCheckResult
{
    enum class Outcome { Newer, Same, Older, Failed };
    Outcome outcome = Outcome::Failed;
    QString remoteVersion;
    QString fileAddress;     // the new package, when newer
    QUrl answeredBy;         // the update file that answered
    QList<Failure> failures; // one per address that failed, in order
};

// Checks a list of ships one after another, each address of a ship in turn.
class ShipUpdateChecker : public QObject
{
    Q_OBJECT
public:
    explicit ShipUpdateChecker(const QStringList* installerTexts, QObject* parent = nullptr);
    ~ShipUpdateChecker() override;

    void setTimeout(int seconds) { m_timeoutSeconds = seconds; }
    void start(const QList<ShipCheck>& ships);
    // Abandons the address being asked; the next one is tried.
    void skip();
    void cancel();
    bool isRunning() const { return m_running; }
    // Valid after Signal_Finished; one per ship given to start().
    const QList<ShipCheckResult>& results() const { return m_results; }

signals:
    void Signal_ShipStarted(int index);
    void Signal_AddressStarted(int index, const QUrl& url);
    void Signal_Status(const QString& text); // state text, host and "(" seconds ")"
    void Signal_CountDown(int secondsLeft);
    void Signal_AddLog(const QString& richText);
    void Signal_ShipFinished(int index, const ShipCheckResult& result);
    void Signal_Finished();

private:
    void nextAddress();
    void addressDone(const FetchResult& fetched);
    void shipDone();

    UpdateTexts m_texts;
    int m_timeoutSeconds = kDefaultTimeoutSeconds;
    QNetworkAccessManager* m_network;
    HttpFetch* m_fetch = nullptr;
    QList<ShipCheck> m_ships;
    QList<ShipCheckResult> m_results;
    int m_ship = 0;
    int m_address = 0;
    int m_generation = 0; // steps queued by an earlier run do nothing
    bool m_running = false;
};

struct DownloadResult
{
    bool ok = false;
    QString savedPath;
    Failure failure;
};

// Downloads files one after another into a folder, each under the last path
// component of its address. Names repeated within one run get "-2", "-3" ...
// before their extension, so no download overwrites another of the same run.
class FileDownloader : public QObject
{
    Q_OBJECT
public:
    explicit FileDownloader(const QStringList* installerTexts, QObject* parent = nullptr);
    ~FileDownloader() override;

    // Seconds without data before a download is abandoned.
    void setTimeout(int seconds) { m_timeoutSeconds = seconds; }
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    // The folder is created when missing.
    void downloadFiles(const QStringList& addresses, const QString& downloadsDir);
    void downloadFile(const QString& address, const QString& downloadsDir)
    {
        downloadFiles({address}, downloadsDir);
    }
    void cancel();
    bool isRunning() const { return m_running; }
    const QList<DownloadResult>& results() const { return m_results; }

signals:
    void Signal_FileStarted(int index, const QUrl& url);
    void Signal_Status(const QString& text);
    void Signal_CountDown(int secondsLeft);
    void Signal_Progress(qint64 received, qint64 total);
    void Signal_AddLog(const QString& richText);
    void Signal_FileFinished(int index, const DownloadResult& result);
    void Signal_Finished();

private:
    void nextFile();
    void fileDone(const FetchResult& fetched);

    UpdateTexts m_texts;
    int m_timeoutSeconds = kDefaultTimeoutSeconds;
    qint64 m_maxBytes = kMaxDownloadBytes;
    QNetworkAccessManager* m_network;
    HttpFetch* m_fetch = nullptr;
    QStringList m_addresses;
    QString m_dir;
    QSet<QString> m_usedNames; // lower-case names saved in this run
    QList<DownloadResult> m_results;
    int m_file = 0;
    int m_generation = 0;
    bool m_running = false;
};

struct ProgramCheckResult
{
    enum class Outcome { UpToDate, Newer, Failed };
    Outcome outcome = Outcome::Failed;
    double version = 0;
    QUrl downloadUrl;        // when newer
    int mirror = -1;         // the mirror that answered
    QList<Failure> failures; // one per mirror that failed
};

// Asks the program mirrors in turn for the newest version of the installer.
class ProgramUpdateChecker : public QObject
{
    Q_OBJECT
public:
    explicit ProgramUpdateChecker(double currentVersion, const QStringList* installerTexts,
                                  QObject* parent = nullptr);
    ~ProgramUpdateChecker() override;

    void setMirrors(const QStringList& mirrors) { m_mirrors = mirrors; }
    QStringList mirrors() const { return m_mirrors; }
    void setTimeout(int seconds) { m_timeoutSeconds = seconds; }
    int timeout() const { return m_timeoutSeconds; }
    void start();
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void Signal_MirrorStarted(int index, const QUrl& url);
    void Signal_Status(const QString& text);
    void Signal_CountDown(int secondsLeft);
    void Signal_AddLog(const QString& richText);
    void Signal_Finished(const ProgramCheckResult& result);

private:
    void nextMirror();
    void mirrorDone(const FetchResult& fetched);
    void mirrorFailed(Failure failure);

    UpdateTexts m_texts;
    double m_currentVersion;
    QStringList m_mirrors;
    int m_timeoutSeconds = kDefaultTimeoutSeconds;
    QNetworkAccessManager* m_network;
    HttpFetch* m_fetch = nullptr;
    ProgramCheckResult m_result;
    int m_mirror = 0;
    int m_generation = 0;
    bool m_running = false;
};

// The installer text that shows an install status (0 installed, 1 failed, 2 older
// version, 3 reader too old).
int InstallStatusText(int status);

// The "NotChecked" flags of the installed ships: set for the ships left out of a
// check, cleared for those checked (name and author, compared as the registry
// does). True when a flag changed.
bool RecordCheckedShips(ShipRegistry& registry, const QList<std::pair<QString, QString>>& checked);

} // namespace UpdateCheck

Q_DECLARE_METATYPE(UpdateCheck::ShipCheckResult)
Q_DECLARE_METATYPE(UpdateCheck::DownloadResult)
Q_DECLARE_METATYPE(UpdateCheck::ProgramCheckResult)
