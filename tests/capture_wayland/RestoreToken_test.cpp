#include "capture/wayland/portal/RestoreToken.h"
#include "persistence/AppPreferences.h"
#include "support/TestFiles.h"

namespace pellux::wayland::portal {
namespace {

// Preferences as an earlier version of Pellux stored them, before the portal backend existed.
const QByteArray kOldPreferences = R"({"isRecordingEnabled":false,"excludedApps":["org.gnome.Nautilus"],)"
                                   R"("retentionDays":7,"captureFrameRate":5,"compressionQuality":0.5,)"
                                   R"("screenshotInterval":4,"useDynamicIntervals":false})";

// The token is kept beside the preferences without touching them, and survives a save of
// preferences loaded before it.
TEST(RestoreTokenTest, KeptBesideThePreferences)
{
    test::TempHome home;
    ASSERT_EQ(AppPreferences::storeValue(QLatin1String(kPreferencesKey), kOldPreferences), std::nullopt);
    // The settings window holds preferences loaded at its start; capture then gets new tokens.
    AppPreferences settingsWindowCopy = AppPreferences::load();
    const RestoreTokenStore store = settingsFileRestoreTokenStore();
    EXPECT_EQ(store.load(), QString());

    // The preferences stay byte for byte as they were; the file's mode is the portal desktop test's.
    store.save("09938581-e959-43d3-916d-4cd7067aa338");
    EXPECT_EQ(store.load(), "09938581-e959-43d3-916d-4cd7067aa338");
    EXPECT_EQ(AppPreferences::storedValue(QLatin1String(kPreferencesKey)).toByteArray(), kOldPreferences);

    store.save("second");
    settingsWindowCopy.retentionDays = 14;
    ASSERT_TRUE(settingsWindowCopy.save());
    EXPECT_EQ(store.load(), "second");
    EXPECT_EQ(AppPreferences::load().retentionDays, 14);
    // An empty token forgets it.
    store.save(QString());
    EXPECT_EQ(store.load(), QString());
    EXPECT_EQ(AppPreferences::load().retentionDays, 14);
}

} // namespace
} // namespace pellux::wayland::portal
