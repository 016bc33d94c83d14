#include "updatecheck.h"

#include "fileutils.h"
#include "registry.h"
#include "shippackage.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>

#include <cmath>
#include <functional>

namespace UpdateCheck {

QStringList ProgramMirrors(const QStringList& configured)
{
    // Three at most, as the update dialog has always tried; blank lines name none.
    QStringList mirrors;
    for (const QString& m : configured)
        if (!m.trimmed().isEmpty() && mirrors.size() < 3)
            mirrors << m.trimmed();
    return mirrors;
}

namespace {

// The address without its protocol prefix ("http://", "ftp://" ...).
QString withoutProtocol(const QString& address)
{
    QString a = address.trimmed();
    const qsizetype p = a.indexOf(QLatin1String("://"));
    if (p >= 0)
        a = a.mid(p + 3);
    return a;
}

QString hostText(const QUrl& url)
{
    return url.port(80) == 80 ? url.host()
                              : url.host() + QLatin1Char(':') + QString::number(url.port());
}

} // namespace

QUrl HttpUrl(const QString& address)
{
    const QString rest = withoutProtocol(address);
    if (rest.isEmpty() || rest.startsWith(QLatin1Char('/')))
        return {};
    QUrl url(QStringLiteral("http://") + rest, QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url;
}

QUrl ShipUpdateUrl(const QString& address, const QString& shipName)
{
    QUrl url = HttpUrl(address);
    if (!url.isValid())
        return {};
    QString name = shipName;
    name.remove(QLatin1Char(' '));
    if (name.isEmpty())
        return {};
    // A folder written with a closing "/" names the same folder.
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    path += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(name)) +
            QStringLiteral(".dat");
    url.setPath(path, QUrl::TolerantMode);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QList<QUrl> ShipUpdateUrls(const ShipPackage& ship)
{
    QList<QUrl> urls;
    for (const QString& address : {ship.Web, ship.Mirror1, ship.Mirror2}) {
        if (address.trimmed().isEmpty())
            continue;
        const QUrl url = ShipUpdateUrl(address, ship.Name);
        if (url.isValid())
            urls.append(url);
    }
    return urls;
}

QUrl ProgramFileUrl(const QUrl& mirror, const QString& file)
{
    // Only a name counts: the file is always fetched from the mirror that answered.
    const QString name = DownloadFileName(QStringLiteral("x/") + file);
    if (name.isEmpty() || !mirror.isValid())
        return {};
    QUrl url = mirror;
    QString path = url.path(QUrl::FullyEncoded);
    path = path.left(path.lastIndexOf(QLatin1Char('/')) + 1) +
           QString::fromLatin1(QUrl::toPercentEncoding(name));
    url.setPath(path, QUrl::TolerantMode);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QString DownloadFileName(const QString& address)
{
    QString a = withoutProtocol(address);
    const qsizetype end = a.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (end >= 0)
        a.truncate(end);
    const qsizetype slash = a.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return {}; // a host and no file
    const auto lastComponent = [](const QString& path) {
        const qsizetype cut =
            std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
        return path.mid(cut + 1);
    };
    // Encoded separators ("%2F..%2F") must not survive the decoding either.
    QString name = lastComponent(a.mid(slash));
    name = lastComponent(QUrl::fromPercentEncoding(name.toUtf8()));
    if (name.isEmpty() || name.contains(QLatin1Char(':')))
        return {};
    bool onlyDots = true;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return {};
        onlyDots = onlyDots && (c == QLatin1Char('.') || c == QLatin1Char(' '));
    }
    return onlyDots ? QString() : name;
}

std::optional<UpdateFile> ParseUpdateFile(const QByteArray& body)
{
    if (body.size() > kMaxUpdateFileBytes)
        return std::nullopt;
    UpdateFile file;
    const QStringList lines = QString::fromUtf8(body).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (value.isEmpty())
            continue;
        if (key == QLatin1String("version") && !file.version)
            file.version = value.simplified().section(QLatin1Char(' '), 0, 0);
        else if (key == QLatin1String("file") && !file.file)
            file.file = value;
        else if (key == QLatin1String("script") && !file.script)
            file.script = value;
    }
    return file;
}

double ProgramVersion(const UpdateFile& file)
{
    if (!file.version)
        return 0;
    bool ok = false;
    const double v = file.version->toDouble(&ok);
    return ok && std::isfinite(v) && v > 0 ? v : 0;
}

QString Failure::reason() const
{
    switch (kind) {
    case None:
        return QString();
    case HttpStatus:
        return QStringLiteral("HTTP status ") + detail;
    case NetworkError:
        return QStringLiteral("network error: ") + detail;
    case TimeOut:
        return QStringLiteral("no answer within %1 s").arg(detail);
    case TooLarge:
        return QStringLiteral("too large");
    case Incomplete:
        return QStringLiteral("incomplete");
    case Skipped:
        return QStringLiteral("skipped");
    case NoAddress:
        return QStringLiteral("no usable address");
    case NoVersion:
        return QStringLiteral("no version line");
    case NoFile:
        return QStringLiteral("no file line");
    case NoScript:
        return QStringLiteral("no script line");
    case OtherShip:
        return QStringLiteral("the update file names another ship: ") + detail;
    case BadFileName:
        return QStringLiteral("the address names no file: ") + detail;
    case NotSaved:
        return QStringLiteral("cannot save: ") + detail;
    }
    return QString();
}

QString Failure::text(const QStringList* installerTexts) const
{
    const UpdateTexts t(installerTexts);
    using namespace UpdateText;
    switch (kind) {
    case None:
        return QString();
    case HttpStatus:
        return FormatText(t.text(ReasonHttpStatus), detail);
    case NetworkError:
        // The client's own message says what went wrong; only an error without
        // one is "unknown".
        return detail.trimmed().isEmpty() ? t.text(ReasonUnknownError) : detail;
    case TimeOut:
        return FormatText(t.text(ReasonTimeOut), detail);
    case TooLarge:
        return t.text(ReasonTooLarge);
    case Incomplete:
        return t.text(ReasonIncomplete);
    case Skipped:
        return t.text(ReasonSkipped);
    case NoAddress:
        return t.text(ReasonNoAddress);
    case NoVersion:
        return t.text(ReasonNoVersion);
    case NoFile:
        return t.text(ReasonNoFile);
    case NoScript:
        return t.text(ReasonNoScript);
    case OtherShip:
        return FormatText(t.text(ReasonOtherShip), detail);
    case BadFileName:
        return t.text(ReasonBadFileName);
    case NotSaved:
        return FormatText(t.text(ReasonNotSaved), detail);
    }
    return QString();
}

QString UpdateTexts::text(int n) const
{
    return m_texts && n >= 0 && n < m_texts->size() ? m_texts->at(n)
                                                    : QStringLiteral("ReadText-%1").arg(n);
}

QString UpdateTexts::green(const QString& plain)
{
    return QStringLiteral("<b><font color=\"#009000\">") + plain.toHtmlEscaped() +
           QStringLiteral("</font></b>: ");
}

QString UpdateTexts::red(const QString& plain)
{
    return QStringLiteral("<b><font color=\"#950000\">") + plain.toHtmlEscaped() +
           QStringLiteral(":</font></b> ");
}

QString UpdateTexts::blue(const QString& plain)
{
    return QStringLiteral("<b><font color=\"#000095\">") + plain.toHtmlEscaped() +
           QStringLiteral("</font></b>");
}

// One GET with a one-second countdown. Update files collect into memory; downloads
// go through a QSaveFile that is committed only when everything arrived.
class HttpFetch : public QObject
{
public:
    struct Options
    {
        int timeoutSeconds = kDefaultTimeoutSeconds;
        bool restartOnData = false; // downloads: the countdown measures silence
        qint64 maxBytes = kMaxUpdateFileBytes;
        QString savePath; // empty: keep the body
        int connectingText = UpdateText::StateConnecting;
        int readingText = UpdateText::StateReading;
    };
    std::function<void(const QString&)> onStatus;
    std::function<void(int)> onCountDown;
    std::function<void(qint64, qint64)> onProgress;
    std::function<void(const FetchResult&)> onDone;

    HttpFetch(QNetworkAccessManager* network, const UpdateTexts* texts, QObject* parent)
        : QObject(parent), m_network(network), m_texts(texts), m_timer(new QTimer(this))
    {
        m_timer->setInterval(1000);
        connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    ~HttpFetch() override { dropReply(); }

    void get(const QUrl& url, const Options& options)
    {
        m_url = url;
        m_options = options;
        m_secondsLeft = options.timeoutSeconds;
        m_stateText = options.connectingText;
        if (!options.savePath.isEmpty()) {
            m_file = std::make_unique<QSaveFile>(options.savePath);
            if (!m_file->open(QIODevice::WriteOnly)) {
                const QString why = m_file->errorString();
                QTimer::singleShot(0, this, [this, why] { fail(Failure::NotSaved, why); });
                return;
            }
        }
        QNetworkRequest request(url);
        // Only a 200 answer counts, so a redirect is an answer of its own.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        // Unencoded bodies: the size limits and the length check count real bytes.
        request.setRawHeader("Accept-Encoding", "identity");
        m_reply = m_network->get(request);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { checkHeaders(); });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { readSome(); });
        connect(m_reply, &QNetworkReply::downloadProgress, this,
                [this](qint64 received, qint64 total) {
                    if (onProgress && !m_done)
                        onProgress(received, total);
                });
        connect(m_reply, &QNetworkReply::finished, this, [this] { finish(); });
        m_timer->start();
        showStatus();
    }

    // Ends the request now with the given failure (skip, cancel).
    void abort(Failure::Kind kind, const QString& detail = QString()) { fail(kind, detail); }

private:
    void showStatus()
    {
        if (onCountDown)
            onCountDown(m_secondsLeft);
        if (onStatus)
            onStatus(m_texts->text(m_stateText) + QLatin1Char(' ') + hostText(m_url) +
                     QStringLiteral(" (") + QString::number(m_secondsLeft) + QLatin1Char(')'));
    }

    void tick()
    {
        if (m_done)
            return;
        --m_secondsLeft;
        if (m_secondsLeft <= 0) {
            fail(Failure::TimeOut, QString::number(m_options.timeoutSeconds));
            return;
        }
        showStatus();
    }

    int status() const
    {
        const QVariant v = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return v.isValid() ? v.toInt() : 0;
    }

    void checkHeaders()
    {
        if (m_done)
            return;
        const int code = status();
        if (code != 0 && code != 200) {
            fail(Failure::HttpStatus, QString::number(code));
            return;
        }
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_options.maxBytes) {
            fail(Failure::TooLarge);
            return;
        }
        if (m_stateText != m_options.readingText) {
            m_stateText = m_options.readingText;
            showStatus();
        }
    }

    void readSome()
    {
        if (m_done)
            return;
        const QByteArray chunk = m_reply->readAll();
        if (chunk.isEmpty())
            return;
        m_received += chunk.size();
        if (m_received > m_options.maxBytes) {
            fail(Failure::TooLarge);
            return;
        }
        if (m_file) {
            if (m_file->write(chunk) != chunk.size()) {
                fail(Failure::NotSaved, m_file->errorString());
                return;
            }
        } else {
            m_body += chunk;
        }
        if (m_options.restartOnData)
            m_secondsLeft = m_options.timeoutSeconds;
    }

    void finish()
    {
        if (m_done)
            return;
        const int code = status();
        if (code != 0 && code != 200) {
            fail(Failure::HttpStatus, QString::number(code));
            return;
        }
        if (m_reply->error() != QNetworkReply::NoError) {
            fail(Failure::NetworkError, m_reply->errorString());
            return;
        }
        if (code != 200) {
            fail(Failure::NetworkError, QStringLiteral("no HTTP status"));
            return;
        }
        readSome();
        if (m_done)
            return;
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() != m_received) {
            fail(Failure::Incomplete);
            return;
        }
        FetchResult result;
        if (m_file) {
            if (!m_file->commit()) {
                fail(Failure::NotSaved, m_file->errorString());
                return;
            }
            result.savedPath = m_options.savePath;
        }
        result.ok = true;
        result.body = m_body;
        result.failure.address = m_url.toString();
        complete(result);
    }

    void fail(Failure::Kind kind, const QString& detail = QString())
    {
        if (m_done)
            return;
        FetchResult result;
        result.failure = {kind, detail, m_url.toString()};
        complete(result);
    }

    void complete(const FetchResult& result)
    {
        m_done = true;
        m_timer->stop();
        dropReply();
        if (m_file)
            m_file->cancelWriting(); // after a commit this changes nothing
        m_file.reset();
        // The callback may release this fetch (and its callbacks) while it runs.
        const std::function<void(const FetchResult&)> done = std::move(onDone);
        onDone = nullptr;
        if (done)
            done(result);
    }

    void dropReply()
    {
        if (!m_reply)
            return;
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        // Aborting inside one of the reply's own signals makes it report twice.
        if (!reply->isFinished())
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        reply->deleteLater();
    }

    QNetworkAccessManager* m_network;
    const UpdateTexts* m_texts;
    QTimer* m_timer;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_file;
    QUrl m_url;
    Options m_options;
    QByteArray m_body;
    qint64 m_received = 0;
    int m_secondsLeft = 0;
    int m_stateText = UpdateText::StateConnecting;
    bool m_done = false;
};

namespace {

// A fetch wired to the owner's signals; the previous one is released.
template <typename Owner>
HttpFetch* newFetch(Owner* owner, HttpFetch*& slot, QNetworkAccessManager* network,
                    const UpdateTexts* texts)
{
    if (slot) {
        slot->onDone = nullptr;
        slot->deleteLater();
    }
    slot = new HttpFetch(network, texts, owner);
    slot->onStatus = [owner](const QString& text) { emit owner->Signal_Status(text); };
    slot->onCountDown = [owner](int seconds) { emit owner->Signal_CountDown(seconds); };
    return slot;
}

void releaseFetch(HttpFetch*& slot)
{
    if (!slot)
        return;
    slot->onDone = nullptr;
    slot->abort(Failure::Skipped);
    slot->deleteLater();
    slot = nullptr;
}

// Runs a step from the event loop, unless the run it belongs to has ended.
template <typename Owner, typename Step> void later(Owner* owner, const int* generation, Step step)
{
    const int wanted = *generation;
    QMetaObject::invokeMethod(
        owner,
        [owner, generation, wanted, step] {
            if (*generation == wanted)
                (owner->*step)();
        },
        Qt::QueuedConnection);
}

} // namespace

// --- Ship updates ---

ShipCheck ShipCheck::of(const ShipPackage& ship)
{
    return {ship.Name, ship.Author, ship.Version, ShipUpdateUrls(ship)};
}

ShipUpdateChecker::ShipUpdateChecker(const QStringList* installerTexts, QObject* parent)
    : QObject(parent), m_texts(installerTexts), m_network(new QNetworkAccessManager(this))
{
}

ShipUpdateChecker::~ShipUpdateChecker()
{
    releaseFetch(m_fetch);
}

void ShipUpdateChecker::start(const QList<ShipCheck>& ships)
{
    cancel();
    m_ships = ships;
    m_results = QList<ShipCheckResult>(ships.size());
    m_ship = 0;
    m_address = 0;
    m_running = true;
    if (!m_ships.isEmpty())
        emit Signal_ShipStarted(0);
    later(this, &m_generation, &ShipUpdateChecker::nextAddress);
}

void ShipUpdateChecker::skip()
{
    if (m_fetch && m_running)
        m_fetch->abort(Failure::Skipped);
}

void ShipUpdateChecker::cancel()
{
    ++m_generation;
    releaseFetch(m_fetch);
    m_running = false;
}

void ShipUpdateChecker::nextAddress()
{
    if (m_ship >= m_ships.size()) {
        m_running = false;
        emit Signal_Finished();
        return;
    }
    const ShipCheck& ship = m_ships.at(m_ship);
    if (ship.urls.isEmpty()) {
        m_results[m_ship].failures.append({Failure::NoAddress, QString(), QString()});
        emit Signal_AddLog(UpdateTexts::red(ship.name + QStringLiteral(" - ") +
                                            m_texts.text(UpdateText::CheckFailed)) +
                           m_texts.text(UpdateText::ReasonNoAddress).toHtmlEscaped());
        shipDone();
        return;
    }
    if (m_address >= ship.urls.size()) {
        shipDone();
        return;
    }
    const QUrl url = ship.urls.at(m_address);
    emit Signal_AddressStarted(m_ship, url);
    HttpFetch* fetch = newFetch(this, m_fetch, m_network, &m_texts);
    fetch->onDone = [this](const FetchResult& r) { addressDone(r); };
    HttpFetch::Options options;
    options.timeoutSeconds = m_timeoutSeconds;
    fetch->get(url, options);
}

void ShipUpdateChecker::addressDone(const FetchResult& fetched)
{
    const ShipCheck& ship = m_ships.at(m_ship);
    ShipCheckResult& result = m_results[m_ship];
    const QString address = ship.urls.at(m_address).toString();
    Failure failure = fetched.failure;
    if (fetched.ok) {
        const std::optional<UpdateFile> file = ParseUpdateFile(fetched.body);
        if (!file)
            failure = {Failure::TooLarge, QString(), address};
        else if (!file->version)
            failure = {Failure::NoVersion, QString(), address};
        else if (!file->file)
            failure = {Failure::NoFile, QString(), address};
        else if (!file->script)
            failure = {Failure::NoScript, QString(), address};
        else if (file->script->compare(ship.name, Qt::CaseInsensitive) != 0)
            failure = {Failure::OtherShip, *file->script, address};
        else {
            const int order = CompareVersions(ship.installedVersion, *file->version);
            using Outcome = ShipCheckResult::Outcome;
            int word = UpdateText::Same;
            result.outcome = Outcome::Same;
            if (order > 0) {
                result.outcome = Outcome::Newer;
                result.fileAddress = *file->file;
                word = UpdateText::Newer;
            } else if (order < 0) {
                result.outcome = Outcome::Older;
                word = UpdateText::Older;
            }
            result.remoteVersion = *file->version;
            result.answeredBy = ship.urls.at(m_address);
            emit Signal_AddLog(
                UpdateTexts::green(ship.name + QStringLiteral(" - ") + m_texts.text(word)) +
                (*file->version + QStringLiteral(" - ") + m_texts.text(UpdateText::FileWord) +
                 QLatin1Char(' ') + *file->file)
                    .toHtmlEscaped());
            shipDone();
            return;
        }
    }
    result.failures.append(failure);
    emit Signal_AddLog(
        UpdateTexts::red(ship.name + QStringLiteral(" - ") +
                         m_texts.text(UpdateText::CheckFailed)) +
        (failure.text(m_texts.list()) + QStringLiteral(" (") + address + QLatin1Char(')'))
            .toHtmlEscaped());
    ++m_address;
    later(this, &m_generation, &ShipUpdateChecker::nextAddress);
}

void ShipUpdateChecker::shipDone()
{
    emit Signal_ShipFinished(m_ship, m_results.at(m_ship));
    ++m_ship;
    m_address = 0;
    if (m_ship < m_ships.size())
        emit Signal_ShipStarted(m_ship);
    later(this, &m_generation, &ShipUpdateChecker::nextAddress);
}

// --- Downloads ---

FileDownloader::FileDownloader(const QStringList* installerTexts, QObject* parent)
    : QObject(parent), m_texts(installerTexts), m_network(new QNetworkAccessManager(this))
{
}

FileDownloader::~FileDownloader()
{
    releaseFetch(m_fetch);
}

void FileDownloader::downloadFiles(const QStringList& addresses, const QString& downloadsDir)
{
    cancel();
    m_addresses = addresses;
    m_dir = downloadsDir;
    m_usedNames.clear();
    m_results = QList<DownloadResult>(addresses.size());
    m_file = 0;
    m_running = true;
    later(this, &m_generation, &FileDownloader::nextFile);
}

void FileDownloader::cancel()
{
    ++m_generation;
    releaseFetch(m_fetch);
    m_running = false;
}

void FileDownloader::nextFile()
{
    if (m_file >= m_addresses.size()) {
        m_running = false;
        emit Signal_Finished();
        return;
    }
    const QString& address = m_addresses.at(m_file);
    const QUrl url = HttpUrl(address);
    QString name = DownloadFileName(address);
    if (!url.isValid() || name.isEmpty()) {
        FetchResult failed;
        failed.failure = {Failure::BadFileName, address, address};
        fileDone(failed);
        return;
    }
    if (!QDir().mkpath(m_dir)) {
        FetchResult failed;
        failed.failure = {Failure::NotSaved, QDir::toNativeSeparators(m_dir), address};
        fileDone(failed);
        return;
    }
    if (m_usedNames.contains(name.toLower())) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString stem = dot > 0 ? name.left(dot) : name;
        const QString suffix = dot > 0 ? name.mid(dot) : QString();
        for (int n = 2;; ++n) {
            const QString candidate = stem + QLatin1Char('-') + QString::number(n) + suffix;
            if (!m_usedNames.contains(candidate.toLower())) {
                name = candidate;
                break;
            }
        }
    }
    m_usedNames.insert(name.toLower());

    emit Signal_FileStarted(m_file, url);
    HttpFetch* fetch = newFetch(this, m_fetch, m_network, &m_texts);
    fetch->onProgress = [this](qint64 received, qint64 total) {
        emit Signal_Progress(received, total);
    };
    fetch->onDone = [this](const FetchResult& r) { fileDone(r); };
    HttpFetch::Options options;
    options.timeoutSeconds = m_timeoutSeconds;
    options.restartOnData = true;
    options.maxBytes = m_maxBytes;
    options.savePath = QDir(m_dir).filePath(name);
    options.readingText = UpdateText::StateDownloading;
    fetch->get(url, options);
}

void FileDownloader::fileDone(const FetchResult& fetched)
{
    DownloadResult& result = m_results[m_file];
    const QString& address = m_addresses.at(m_file);
    result.ok = fetched.ok;
    result.savedPath = fetched.savedPath;
    result.failure = fetched.failure;
    if (result.ok)
        emit Signal_AddLog(UpdateTexts::green(QFileInfo(result.savedPath).fileName() +
                                              QStringLiteral(" - ") +
                                              m_texts.text(UpdateText::Downloaded)) +
                           address.toHtmlEscaped());
    else
        emit Signal_AddLog(UpdateTexts::red(address + QStringLiteral(" - ") +
                                            m_texts.text(UpdateText::DownloadFailed)) +
                           result.failure.text(m_texts.list()).toHtmlEscaped());
    emit Signal_FileFinished(m_file, result);
    ++m_file;
    later(this, &m_generation, &FileDownloader::nextFile);
}

// --- Program updates ---

ProgramUpdateChecker::ProgramUpdateChecker(double currentVersion, const QStringList* installerTexts,
                                           QObject* parent)
    : QObject(parent), m_texts(installerTexts), m_currentVersion(currentVersion),
      m_network(new QNetworkAccessManager(this))
{
}

ProgramUpdateChecker::~ProgramUpdateChecker()
{
    releaseFetch(m_fetch);
}

void ProgramUpdateChecker::start()
{
    cancel();
    m_result = ProgramCheckResult();
    m_mirror = 0;
    m_running = true;
    later(this, &m_generation, &ProgramUpdateChecker::nextMirror);
}

void ProgramUpdateChecker::cancel()
{
    ++m_generation;
    releaseFetch(m_fetch);
    m_running = false;
}

void ProgramUpdateChecker::nextMirror()
{
    if (m_mirror >= m_mirrors.size()) {
        m_running = false;
        m_result.outcome = ProgramCheckResult::Outcome::Failed;
        emit Signal_Finished(m_result);
        return;
    }
    const QUrl url = HttpUrl(m_mirrors.at(m_mirror));
    if (!url.isValid()) {
        mirrorFailed({Failure::NoAddress, QString(), m_mirrors.at(m_mirror)});
        return;
    }
    emit Signal_MirrorStarted(m_mirror, url);
    HttpFetch* fetch = newFetch(this, m_fetch, m_network, &m_texts);
    fetch->onDone = [this](const FetchResult& r) { mirrorDone(r); };
    HttpFetch::Options options;
    options.timeoutSeconds = m_timeoutSeconds;
    fetch->get(url, options);
}

void ProgramUpdateChecker::mirrorDone(const FetchResult& fetched)
{
    if (!fetched.ok) {
        mirrorFailed(fetched.failure);
        return;
    }
    const QUrl url = HttpUrl(m_mirrors.at(m_mirror));
    const QString address = url.toString();
    const std::optional<UpdateFile> file = ParseUpdateFile(fetched.body);
    if (!file) {
        mirrorFailed({Failure::TooLarge, QString(), address});
        return;
    }
    const double version = ProgramVersion(*file);
    if (version == 0) {
        mirrorFailed({Failure::NoVersion, QString(), address});
        return;
    }
    const QUrl download = file->file ? ProgramFileUrl(url, *file->file) : QUrl();
    if (!download.isValid()) {
        mirrorFailed({Failure::NoFile, QString(), address});
        return;
    }
    m_running = false;
    m_result.version = version;
    m_result.mirror = m_mirror;
    if (version <= m_currentVersion) {
        m_result.outcome = ProgramCheckResult::Outcome::UpToDate;
        emit Signal_AddLog(UpdateTexts::green(hostText(url)) +
                           m_texts.text(UpdateText::UpToDateCaption).toHtmlEscaped());
    } else {
        m_result.outcome = ProgramCheckResult::Outcome::Newer;
        m_result.downloadUrl = download;
        emit Signal_AddLog(UpdateTexts::blue(m_texts.text(UpdateText::NewVersionLog) +
                                             QLatin1Char(' ') +
                                             QString::asprintf("%0.2f", version)));
    }
    emit Signal_Finished(m_result);
}

void ProgramUpdateChecker::mirrorFailed(Failure failure)
{
    const QString where = failure.address.isEmpty() ? m_mirrors.at(m_mirror) : failure.address;
    m_result.failures.append(failure);
    emit Signal_AddLog(
        UpdateTexts::red(where + QStringLiteral(" - ") + m_texts.text(UpdateText::CheckFailed)) +
        failure.text(m_texts.list()).toHtmlEscaped());
    ++m_mirror;
    later(this, &m_generation, &ProgramUpdateChecker::nextMirror);
}

// --- Installing and bookkeeping ---

int InstallStatusText(int status)
{
    switch (status) {
    case 0:
        return UpdateText::InstallOk;
    case 2:
    case 3:
        return UpdateText::NotInstalled;
    default:
        return UpdateText::InstallFailed;
    }
}

bool RecordCheckedShips(ShipRegistry& registry, const QList<std::pair<QString, QString>>& checked)
{
    bool changed = false;
    for (ShipPackage& ship : registry.Ships) {
        if (ship.Deleted != 0)
            continue;
        bool inCheck = false;
        for (const auto& [name, author] : checked) {
            ShipPackage key;
            key.Name = name;
            key.Author = author;
            inCheck = inCheck || ship.sameShip(key);
        }
        if (ship.NotChecked == inCheck) {
            ship.NotChecked = !inCheck;
            changed = true;
        }
    }
    return changed;
}

} // namespace UpdateCheck
