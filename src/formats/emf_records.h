#pragma once

// The EMF records we play, through the shared player (emf_records.cpp).
// Internal to the formats library: emf.cpp reads the file and its header
// and hands each record here.

#include "formats/metafile_player.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace plumora::metafile {

// The EMF object table: the file names each object's index; the stock
// objects have indexes from 0x80000000.
class EmfObjects {
public:
    void add(std::uint32_t index, GdiObject object)
    {
        if (index == 0 || (index & U_STOCK_OBJECT) != 0)
            return;  // index 0 is the metafile itself
        if (m_objects.size() >= kMaxObjects && m_objects.find(index) == m_objects.end())
            return;
        m_objects[index] = std::move(object);
    }
    std::optional<GdiObject> get(std::uint32_t index) const
    {
        if (index & U_STOCK_OBJECT)
            return stock(index & ~U_STOCK_OBJECT);
        const auto it = m_objects.find(index);
        if (it == m_objects.end())
            return std::nullopt;
        return it->second;
    }
    void remove(std::uint32_t index) { m_objects.erase(index); }

private:
    static std::optional<GdiObject> stock(std::uint32_t which);

    std::unordered_map<std::uint32_t, GdiObject> m_objects;
};

// Plays one record, libuemf having found it whole; types we do not play are skipped.
void playEmfRecord(Player& player, EmfObjects& objects, const Record& r, std::uint32_t type);

}  // namespace plumora::metafile
