#include "src/BookTextCache.h"

#include <exception>

#include "readers/BaseReader.h"
#include "src/EntryText.h"
#include "utility/String.h"
#include "utility/URI.h"
#include "utility/log.h"

namespace tf {

BookTextCache::BookTextCache(std::string book, std::vector<std::string> entries, Fetch fetch)
    : m_book(std::move(book)), m_entries(std::move(entries)), m_fetch(std::move(fetch)), m_texts(m_entries.size()),
      m_busy(m_entries.size(), false) {}

std::unique_ptr<BookTextCache> BookTextCache::open(const std::string& path) {
    const int type = URI(String(path)).rtype();
    if (type != URI::RT_EPUB && type != URI::RT_FB2 && type != URI::RT_HTML && type != URI::RT_SVG) {
        TF_LOG(LOG_WARN, "not a book file: " << path);
        return nullptr;
    }
    std::unique_ptr<BaseReader> reader;
    try {
        reader = BaseReader::create_smart(type == URI::RT_EPUB ? "epub" : type == URI::RT_FB2 ? "fb2" : "html");
    } catch (const std::exception& e) {
        TF_LOG(LOG_ERROR, "no reader for " << path << ": " << e.what());
        return nullptr;
    }
    if (!reader || !reader->open(path) || !reader->parse()) {
        TF_LOG(LOG_WARN, "the book could not be read for its text: " << path);
        return nullptr;
    }
    std::vector<std::string> entries;
    for (const auto& item : reader->spine())
        entries.push_back(item.first);
    // A single page is a book of one entry.
    if (entries.empty() && reader->get_type() == "html")
        entries.push_back(std::string());
    BaseReader* raw = reader.get();
    auto cache = std::make_unique<BookTextCache>(
        path, std::move(entries),
        [raw](const std::string& entry, std::string& markup) { return fetchFrom(*raw, entry, markup); });
    cache->m_ownReader = std::move(reader);
    return cache;
}

bool BookTextCache::fetchFrom(BaseReader& reader, const std::string& entry, std::string& markup) {
    markup.clear();
    const std::string answer = reader.get_entry(entry, markup);
    // A single-file reader answers the page itself.
    if (markup.empty() && reader.get_type() == "html")
        markup = answer;
    return !markup.empty();
}

long BookTextCache::indexOf(const std::string& entry) const {
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i] == entry)
            return static_cast<long>(i);
    }
    return -1;
}

BookTextCache::Text BookTextCache::cached(size_t index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_texts.size() ? m_texts[index] : nullptr;
}

BookTextCache::Text BookTextCache::text(size_t index) {
    if (index >= m_entries.size())
        return std::make_shared<const std::u32string>();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_extracted.wait(lock, [&] { return m_texts[index] || !m_busy[index]; });
        if (m_texts[index])
            return m_texts[index];
        m_busy[index] = true;
    }
    std::string markup;
    bool fetched = false;
    {
        std::lock_guard<std::mutex> lock(m_fetchMutex);
        try {
            fetched = m_fetch && m_fetch(m_entries[index], markup);
        } catch (const std::exception& e) {
            TF_LOG(LOG_ERROR, "entry " << m_entries[index] << " could not be read: " << e.what());
        }
    }
    if (!fetched)
        TF_LOG(LOG_WARN, "entry " << m_entries[index] << " could not be read; it counts as empty");
    Text made;
    try {
        made = std::make_shared<const std::u32string>(fetched ? EntryText::extract(markup) : std::u32string());
    } catch (const std::exception& e) {
        TF_LOG(LOG_ERROR, "the text of entry " << m_entries[index] << " could not be made: " << e.what());
        made = std::make_shared<const std::u32string>();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts[index] = made;
        m_busy[index] = false;
    }
    m_extracted.notify_all();
    return made;
}

std::vector<long> BookTextCache::lengths() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<long> out;
    out.reserve(m_texts.size());
    for (const Text& t : m_texts)
        out.push_back(t ? static_cast<long>(t->size()) : -1L);
    return out;
}

} // namespace tf
