#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tf {

// The fonts a book carries. Their bytes are registered with Qt once per
// process; the book's style sheets name them through @font-face rules under
// names of their own ("OldStandard" for a font whose family is "Old Standard
// TT"), which the engine does not read, so the view keeps those names here.
// Loads add, layout reads, on any thread: every member takes the lock.
class EmbeddedFonts {
public:
    // Registers a font's bytes (once per process) and notes which family the
    // book's member `entry` brings. The families, empty when Qt cannot use it.
    QStringList add(const std::string& entry, const QByteArray& bytes);
    // Forgets the book's members and names (a new book opens).
    void clear();

    // For an @font-face rule of a style sheet: `alias` names the font in member `entry`.
    bool alias(const std::string& alias, const std::string& entry);
    // `families` with every alias replaced by the family it stands for.
    QStringList apply(const QStringList& families) const;

    // The (font-family, first src url) pairs of the @font-face rules in `css`.
    static std::vector<std::pair<std::string, std::string>> fontFaces(const std::string& css);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, QStringList> m_entries;
    std::map<QString, QString> m_aliases; // lower-case alias -> family
};

} // namespace tf
