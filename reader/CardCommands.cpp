// The card commands of the command slot: reading and writing Mifare Ultralight pages (over the
// text protocol or the binary one) and Mifare Classic blocks (binary only). Each executor checks
// before every page or block that its command is still the slot's pending one and otherwise stops
// at once without completing it (the owner has broken or replaced it).
#include "CommandSlot.h"
#include "Messages.h"
#include "Models.h"
#include <algorithm>

namespace {

const uint8_t CmdScanStart = 0x23;
const uint8_t CmdScanEnd = 0x24;

// Ultralight page numbers travel as one byte; a range beyond page 255 cannot be addressed.
bool PageRangeValid(uint32_t start, size_t pages)
{
    return start <= 255 && pages <= 256 - start;
}

// The page data taken 4 bytes a page; a last partial page is padded with zero bytes.
void PageBytes(const std::vector<uint8_t>& data, size_t page, uint8_t out[4])
{
    for (size_t i = 0; i < 4; ++i) {
        size_t at = page * 4 + i;
        out[i] = at < data.size() ? data[at] : 0;
    }
}

} // namespace

bool CReader::BinaryCommandModel() const
{
    // Card commands need a binary-mode Kora USB MF, Lintra Net or Kora Desk MF; a Lintra Plus and
    // a bus (model index 0) have none.
    return m_protocol == PROTOCOL_BINARY
        && (m_modelIndex == MODEL_KORA_USB_MF || m_modelIndex == MODEL_LINTRA_NET
            || m_modelIndex == MODEL_KORA_DESK_MF);
}

bool CReader::BeginBinaryCardCommand(const std::shared_ptr<ReaderCommand>& command, uint32_t& keyType)
{
    static const uint8_t scan[3] = {0x00, 0x0A, 0x00};
    uint32_t status;
    if (!BinaryRequest(CmdScanStart, scan, 3, status)) {
        CompleteWithLastError(command);
        return false;
    }
    if (status != 0x55) {
        SetError(PE_READER_ERROR, nullptr);
        CompleteCommand(command, PE_READER_ERROR);
        return false;
    }
    Sleep(10);
    KeyData uid;
    if (!BinarySelectCard(TRUE, keyType, uid)) {
        CompleteWithLastError(command);
        return false;
    }
    return true;
}

void CReader::EndBinaryCardCommand(const std::shared_ptr<ReaderCommand>& command)
{
    // The work is done: a failing end of the scan is recorded but does not fail the command.
    static const uint8_t end = 0x00;
    uint32_t status;
    if (BinaryRequest(CmdScanEnd, &end, 1, status) && status != 0x55)
        SetError(PE_READER_ERROR, nullptr);
    CompleteCommand(command, S_OK);
}

bool CReader::BeginBinaryULCommand(const std::shared_ptr<ReaderCommand>& command)
{
    uint32_t keyType;
    if (!BeginBinaryCardCommand(command, keyType))
        return false;
    if (keyType != KEY_TYPE_MIFARE_UL) {
        CompleteCommand(command, PE_NO_KEY);
        return false;
    }
    return true;
}

bool CReader::StartULRead(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec)
{
    if (!PageRangeValid(rec.StartPage, rec.PageCount)) {
        CompleteCommand(command, E_INVALIDARG);
        return false;
    }
    CritSecLock lock(m_lock);
    rec.PageData.clear();
    return true;
}

bool CReader::ReadULPages(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec, bool binary)
{
    uint32_t page = rec.StartPage;
    uint32_t remaining = rec.PageCount;
    while (remaining) {
        if (!CommandCurrent(command))
            return false;
        uint8_t data[16];
        if (!(binary ? BinaryReadBlock(static_cast<uint8_t>(page), data) : ReadPage(page, data))) {
            CompleteWithLastError(command);
            return false;
        }
        const uint32_t taken = std::min<uint32_t>(remaining, 4);
        AddCommandProgress(command, &rec.PageData, data, taken * 4, taken);
        page += 4;
        remaining -= taken;
    }
    return true;
}

bool CReader::WriteULPages(const std::shared_ptr<ReaderCommand>& command, const _CMD_MUL_INFO& rec, size_t pages,
                           bool binary)
{
    for (size_t i = 0; i < pages; ++i) {
        if (!CommandCurrent(command))
            return false;
        uint8_t data[4];
        PageBytes(rec.PageData, i, data);
        const uint32_t page = rec.StartPage + static_cast<uint32_t>(i);
        if (!(binary ? BinaryWriteUlPage(static_cast<uint8_t>(page), data) : WritePage(page, data))) {
            CompleteWithLastError(command);
            return false;
        }
        AddCommandProgress(command, nullptr, nullptr, 0, 1);
    }
    return true;
}

void CReader::ReadMifareULText(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec)
{
    if (m_modelIndex != MODEL_KORA_USB && m_modelIndex != MODEL_LINTRA_MULTI
        && m_modelIndex != MODEL_KORA_USB_MF) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    if (!StartULRead(command, rec))
        return;
    if (ReadULPages(command, rec, false))
        CompleteCommand(command, S_OK);
}

void CReader::ReadMifareULBinary(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec)
{
    if (!BinaryCommandModel()) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    if (!StartULRead(command, rec))
        return;
    if (!BeginBinaryULCommand(command))
        return;
    if (ReadULPages(command, rec, true))
        EndBinaryCardCommand(command);
}

void CReader::WriteMifareUL(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec)
{
    if (m_protocol == PROTOCOL_BINARY) {
        WriteMifareULBinary(command, rec);
        return;
    }
    if (m_protocol != PROTOCOL_TEXT
        || (m_modelIndex != MODEL_KORA_USB && m_modelIndex != MODEL_LINTRA_MULTI
            && m_modelIndex != MODEL_KORA_USB_MF)) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    const size_t pages = (rec.PageData.size() + 3) / 4;
    if (!PageRangeValid(rec.StartPage, pages)) {
        CompleteCommand(command, E_INVALIDARG);
        return;
    }
    if (WriteULPages(command, rec, pages, false))
        CompleteCommand(command, S_OK);
}

void CReader::WriteMifareULBinary(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec)
{
    if (!BinaryCommandModel()) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    const size_t pages = (rec.PageData.size() + 3) / 4;
    if (!PageRangeValid(rec.StartPage, pages)) {
        CompleteCommand(command, E_INVALIDARG);
        return;
    }
    if (!BeginBinaryULCommand(command))
        return;
    if (WriteULPages(command, rec, pages, true))
        EndBinaryCardCommand(command);
}

void CReader::AccessMifareC(const std::shared_ptr<ReaderCommand>& command, _CMD_MC_INFO& rec, bool write)
{
    if (!BinaryCommandModel()) {
        CompleteCommand(command, PE_NOT_SUPPORTED);
        return;
    }
    if (!write) {
        CritSecLock lock(m_lock);
        rec.BlockData.clear();
    }
    uint32_t keyType;
    if (!BeginBinaryCardCommand(command, keyType))
        return;
    if (keyType != KEY_TYPE_MIFARE_1K && keyType != KEY_TYPE_MIFARE_4K) {
        CompleteCommand(command, PE_NO_KEY);
        return;
    }
    const bool big = keyType == KEY_TYPE_MIFARE_4K;
    const uint32_t sectorCount = big ? 40 : 16;
    const uint32_t blockLimit = big ? 256 : 64;
    auto blocksIn = [](uint32_t sector) -> uint32_t { return sector < 32 ? 4 : 16; };
    uint32_t sector = rec.Sector;
    uint32_t block = rec.Block;
    if (sector >= sectorCount || block >= blocksIn(sector)) {
        CompleteCommand(command, E_INVALIDARG);
        return;
    }
    uint32_t number = sector < 32 ? 4 * sector + block : 128 + 16 * (sector - 32) + block;
    if (number >= blockLimit) {
        CompleteCommand(command, E_INVALIDARG);
        return;
    }

    const bool keyB = (rec.KeyFlags & READER_CMD_KEY_B) != 0;
    const bool stored = (rec.KeyFlags & READER_CMD_KEY_STORED) != 0;
    uint32_t authenticated = 0xFFFFFFFF;
    size_t writeAt = 0;
    uint32_t left = rec.BlockCount;
    while (left) {
        if (!CommandCurrent(command))
            return;
        if (sector != authenticated) {
            BOOL ok;
            if (stored) {
                uint32_t answer = 0;
                ok = BinaryAuthenticateStored(static_cast<uint8_t>(number), keyB, rec.KeyMask, &answer);
                if (ok) {
                    CritSecLock lock(m_lock);
                    rec.Answer = answer;
                }
            } else {
                ok = BinaryAuthenticate(static_cast<uint8_t>(number), keyB, rec.Key);
            }
            if (!ok) {
                CompleteCommand(command, PE_KEY_AUTH);
                return;
            }
            authenticated = sector;
        }
        const bool trailer = block == blocksIn(sector) - 1;
        if (!(rec.SkipTrailers && trailer)) {
            uint8_t data[16] = {};
            if (write) {
                for (size_t i = 0; i < 16 && writeAt + i < rec.BlockData.size(); ++i)
                    data[i] = rec.BlockData[writeAt + i];
                writeAt += 16;
                if (!BinaryWriteBlock(static_cast<uint8_t>(number), data)) {
                    CompleteWithLastError(command);
                    return;
                }
                AddCommandProgress(command, nullptr, nullptr, 0, 1);
            } else {
                if (!BinaryReadBlock(static_cast<uint8_t>(number), data)) {
                    CompleteWithLastError(command);
                    return;
                }
                AddCommandProgress(command, &rec.BlockData, data, 16, 1);
            }
            --left;
        }
        number = (number + 1) % blockLimit;
        if (++block >= blocksIn(sector)) {
            sector = (sector + 1) % sectorCount;
            block = 0;
        }
    }
    EndBinaryCardCommand(command);
}
