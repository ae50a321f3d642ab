#include "app/UpdateDialog.h"

#include "runtime/Log.h"

#include <QDesktopServices>

namespace pellux {

std::unique_ptr<AlertDialog> makeUpdateResultBox(const UpdateCheckResult &result)
{
    const AlertButton ok { QStringLiteral("OK"), QMessageBox::AcceptRole };
    using Status = UpdateCheckResult::Status;
    switch (result.status) {
    case Status::UpToDate:
        return std::make_unique<AlertDialog>(QMessageBox::Information, QStringLiteral("You're up to date"),
            QStringLiteral("Pellux %1 is the newest version available.").arg(result.currentVersion), std::vector { ok },
            0, 0);
    case Status::UpdateAvailable: {
        auto box = std::make_unique<AlertDialog>(QMessageBox::Information,
            QStringLiteral("A new version of Pellux is available!"),
            QStringLiteral("Pellux %1 is available; you have %2. Would you like to open its download page?")
                .arg(result.latest->version, result.currentVersion),
            std::vector<AlertButton> { { QStringLiteral("Not Now"), QMessageBox::RejectRole },
                { QStringLiteral("Open Download Page"), QMessageBox::AcceptRole } },
            1, 0);
        QObject::connect(
            box.get(), &AlertDialog::answered, box.get(), [page = result.latest->downloadPage](int button) {
                if (button == 1 && !QDesktopServices::openUrl(page))
                    log::failure(QStringLiteral("Unable to open %1").arg(page.toDisplayString()));
            });
        return box;
    }
    case Status::NotConfigured:
        return std::make_unique<AlertDialog>(QMessageBox::Information,
            QStringLiteral("Updates come from your distribution"),
            QStringLiteral("This build of Pellux does not look for updates itself. New versions arrive through your "
                           "distribution's package manager."),
            std::vector { ok }, 0, 0);
    case Status::Error:
        break;
    }
    return std::make_unique<AlertDialog>(
        QMessageBox::Warning, QStringLiteral("Update Error"), result.errorMessage, std::vector { ok }, 0, 0);
}

void showUpdateResult(const UpdateCheckResult &result)
{
    AlertDialog *box = makeUpdateResultBox(result).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace pellux
