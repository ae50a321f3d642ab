#include "ui/AppControls.h"

#include "ui/Alert.h"

#include <QDateTime>
#include <QLocale>
#include <QWindow>

namespace pellux {

AppControls::AppControls(Handlers handlers, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_handlers(std::move(handlers))
    , m_clock(clock)
{
}

QString AppControls::stateText() const
{
    if (m_capturing) {
        QString text = m_interval > 0
            ? QStringLiteral("Recording, every %1 s").arg(QLocale().toString(m_interval, 'g', 3))
            : QStringLiteral("Recording");
        if (m_recognitionDeferred)
            text += QStringLiteral("; on battery, text is read when you are away");
        return text;
    }
    if (!m_canCapture)
        return QStringLiteral("Not recording");
    if (!m_pausedUntil)
        return QStringLiteral("Paused");
    const QDateTime until = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(*m_pausedUntil) * 1000));
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(m_clock.now()) * 1000));
    const QString time = QLocale().toString(until.time(), QLocale::ShortFormat);
    return until.date() == now.date() ? QStringLiteral("Paused until %1").arg(time)
                                      : QStringLiteral("Paused until tomorrow, %1").arg(time);
}

void AppControls::setState(bool capturing, bool canCapture, std::optional<TimePoint> pausedUntil)
{
    if (capturing == m_capturing && canCapture == m_canCapture && pausedUntil == m_pausedUntil)
        return;
    m_capturing = capturing;
    m_canCapture = canCapture;
    m_pausedUntil = pausedUntil;
    emit stateChanged();
}

void AppControls::setInterval(double seconds)
{
    if (seconds == m_interval)
        return;
    m_interval = seconds;
    emit stateChanged();
}

void AppControls::setRecognitionDeferred(bool deferred)
{
    if (deferred == m_recognitionDeferred)
        return;
    m_recognitionDeferred = deferred;
    emit stateChanged();
}

std::optional<TimePoint> AppControls::pauseEnd(int minutes, TimePoint now)
{
    if (minutes > 0)
        return now + Seconds(minutes * 60.0);
    if (minutes == 0)
        return std::nullopt;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(now) * 1000));
    const QDateTime midnight(local.date().addDays(1), QTime(0, 0));
    return fromSecondsSince1970(double(midnight.toMSecsSinceEpoch()) / 1000.0);
}

void AppControls::pauseFor(int minutes)
{
    if (m_handlers.pause)
        m_handlers.pause(pauseEnd(minutes, m_clock.now()));
}

void AppControls::resume()
{
    if (m_handlers.resume)
        m_handlers.resume();
}

void AppControls::togglePause()
{
    if (m_capturing)
        pauseFor(0);
    else
        resume();
}

void AppControls::showPreferences()
{
    if (m_handlers.preferences)
        m_handlers.preferences();
}

void AppControls::showPrivacySettings()
{
    if (m_handlers.privacySettings)
        m_handlers.privacySettings();
}

bool AppControls::trayAvailable() const { return !m_handlers.trayAvailable || m_handlers.trayAvailable(); }

void AppControls::showDebugView()
{
    if (m_handlers.debugView)
        m_handlers.debugView();
}

void AppControls::showAbout()
{
    if (m_handlers.about)
        m_handlers.about();
}

void AppControls::quit()
{
    if (m_handlers.quit)
        m_handlers.quit();
}

bool AppControls::confirmClose(QObject *window)
{
    if (trayAvailable())
        return true;
    const QString doing = m_capturing
        ? QStringLiteral("Pellux keeps recording your screen while this window is closed.")
        : QStringLiteral("Pellux keeps running while this window is closed.");
    const int choice = runAlert(qobject_cast<QWindow *>(window), QMessageBox::Question,
        QStringLiteral("Keep Pellux Running in the Background?"),
        doing
            + QStringLiteral(" This desktop shows no tray icon: start Pellux again from the applications menu, or run "
                             "\u201cpellux\u201d, to open this window."),
        { { QStringLiteral("Keep Running"), QMessageBox::AcceptRole },
            { QStringLiteral("Quit"), QMessageBox::DestructiveRole },
            { QStringLiteral("Cancel"), QMessageBox::RejectRole } },
        0, 2);
    if (choice == 1)
        quit();
    return choice == 0;
}

} // namespace pellux
