#pragma once

#include <QTemporaryDir>

namespace pellux::test {

// Points HOME and the XDG folders at a fresh temporary folder for the lifetime of the object, so
// that Documents/Pellux, the settings and the caches of the code under test are private to one
// test. Restores the previous environment when destroyed.
class TempHome {
public:
    TempHome();
    ~TempHome();

    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    QString path() const { return m_dir.path(); }
    // $HOME/Documents/Pellux, where Pellux keeps its files (not created here).
    QString pelluxFolder() const;
    // Saves the default preferences with a fixed capture interval (the default two seconds unless
    // given), so that captures come without anyone moving the pointer.
    bool saveFixedInterval(double seconds = 0) const;

private:
    void set(const char *name, const QByteArray &value);

    QTemporaryDir m_dir;
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

} // namespace pellux::test
