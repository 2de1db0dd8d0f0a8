#include "sim/eeprom_part.h"

namespace corvane::sim {

std::unique_ptr<EepromPart> EepromPart::open(EepromKind kind, unsigned words, const std::filesystem::path &file,
                                             const std::vector<uint16_t> &initial, std::string &error)
{
    std::unique_ptr<EepromFile> storage;
    if (words > 0) {
        storage = EepromFile::open(file, words, initial, error);
        if (!storage)
            return nullptr;
    }
    return std::unique_ptr<EepromPart>(new EepromPart(kind, std::move(storage)));
}

EepromPart::EepromPart(EepromKind kind, std::unique_ptr<EepromFile> file) : kind_(kind), file_(std::move(file))
{
    factory_.fill(0xFFFF);
}

bool EepromPart::is_protected(unsigned index) const
{
    return kind_ == EepromKind::internal_x && index >= protected_first && index <= protected_last;
}

uint16_t EepromPart::read(uint16_t address) const
{
    if (!file_)
        return 0xFFFF;
    if (kind_ == EepromKind::internal_232r && address >= factory_first) {
        unsigned slot = address - factory_first;
        return slot < factory_count ? factory_[slot] : 0xFFFF;
    }
    // Every size here is a power of two.
    return file_->get(address & (file_->words() - 1));
}

bool EepromPart::write(uint16_t address, uint16_t value)
{
    if (!file_)
        return true;
    if (kind_ == EepromKind::internal_232r && address >= factory_first)
        return true;
    unsigned index = address & (file_->words() - 1);
    if (is_protected(index))
        return false;
    file_->set(index, value);
    return true;
}

void EepromPart::erase()
{
    if (!file_)
        return;
    for (unsigned i = 0; i < file_->words(); ++i)
        if (!is_protected(i))
            file_->set(i, 0xFFFF);
}

std::vector<uint16_t> EepromPart::contents() const
{
    std::vector<uint16_t> words(this->words());
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = file_->get(i);
    return words;
}

bool EepromPart::set_contents(const std::vector<uint16_t> &words)
{
    if (words.size() != this->words())
        return false;
    for (size_t i = 0; i < words.size(); ++i)
        file_->set(i, words[i]);
    return true;
}

bool EepromPart::set_factory_word(uint16_t address, uint16_t value)
{
    if (kind_ != EepromKind::internal_232r || address < factory_first ||
        unsigned(address - factory_first) >= factory_count)
        return false;
    factory_[address - factory_first] = value;
    return true;
}

} // namespace corvane::sim
