#pragma once

#include <QString>

#include <memory>

class QQmlEngine;

namespace pellux {

class ApplicationIcons;
class ScreenshotLoader;
class SimpleDatabaseManager;

// Image URL schemes of the views, each served off the GUI thread:
//   image://recording/<percent-encoded absolute path>  a stored screenshot, decoded at the
//       requested size (full size without one); a delta file shows the frame it stands for
//   image://symbol/<symbol name>[?color=%23RRGGBB]      a symbol of the views (SymbolIcons), tinted
//   image://appicon/<application name>[?id=<bundle identifier>]
//                                                       the application's desktop-entry icon, found
//                                                       by the identifier first when one is given
// A failure answers the error "Screenshot unavailable" (recordings) or "No icon for <name>".
//
// The providers share the loader and the icons: a request under way when the engine goes keeps its
// provider, and so them, until it ends. `database` must outlive the engine. `icons` is prepared
// here (its desktop entries read on the thread pool).
void registerImageProviders(
    QQmlEngine &engine, SimpleDatabaseManager &database, std::shared_ptr<ApplicationIcons> icons);
// The same with a loader made by the caller.
void registerImageProviders(
    QQmlEngine &engine, std::shared_ptr<ScreenshotLoader> loader, std::shared_ptr<ApplicationIcons> icons);

// Icons shared with the providers, deleted on their own thread when the last of them lets go.
std::shared_ptr<ApplicationIcons> sharedApplicationIcons();

// Only image://symbol/, for windows that show no recordings.
void registerSymbolImageProvider(QQmlEngine &engine);

// The path a recording URL names: the percent-decoded text after "image://recording/" (what the
// provider is given as its id).
QString recordingPathFromId(const QString &id);

} // namespace pellux
