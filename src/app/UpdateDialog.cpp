#include "app/UpdateDialog.h"

#include "runtime/Log.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QPushButton>

namespace pellux {

std::unique_ptr<QMessageBox> makeUpdateResultBox(const UpdateCheckResult &result)
{
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(QStringLiteral("Software Update"));
    using Status = UpdateCheckResult::Status;
    switch (result.status) {
    case Status::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("You're up to date"));
        box->setInformativeText(
            QStringLiteral("Pellux %1 is the newest version available.").arg(result.currentVersion));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Status::UpdateAvailable: {
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("A new version of Pellux is available!"));
        box->setInformativeText(
            QStringLiteral("Pellux %1 is available; you have %2. Would you like to open its download page?")
                .arg(result.latest->version, result.currentVersion));
        QPushButton *open = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
        box->setDefaultButton(open);
        const QUrl page = result.latest->downloadPage;
        QObject::connect(open, &QAbstractButton::clicked, box.get(), [page] {
            if (!QDesktopServices::openUrl(page))
                log::failure(QStringLiteral("Unable to open %1").arg(page.toDisplayString()));
        });
        break;
    }
    case Status::NotConfigured:
        box->setIcon(QMessageBox::Information);
        box->setText(QStringLiteral("Updates come from your distribution"));
        box->setInformativeText(QStringLiteral("This build of Pellux does not look for updates itself. New versions "
                                               "arrive through your distribution's package manager."));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case Status::Error:
        box->setIcon(QMessageBox::Warning);
        box->setText(QStringLiteral("Update Error"));
        box->setInformativeText(result.errorMessage);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box;
}

void showUpdateResult(const UpdateCheckResult &result)
{
    QMessageBox *box = makeUpdateResultBox(result).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace pellux
