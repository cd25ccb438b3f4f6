// The reader's single command slot on the thread's side: running the command that the owner
// placed, and completing it so that the owner hears of it exactly once.
#include "CommandSlot.h"
#include "Messages.h"

void CReader::RunCommand()
{
    std::shared_ptr<ReaderCommand> command;
    {
        CritSecLock lock(m_lock);
        if (m_cmdStatus != E_PENDING || !m_cmd)
            return;
        command = m_cmd;
    }
    // A failed connection completes the pending command with its error itself.
    if (m_state != READER_STATE_CONNECTED && !Connect())
        return;
    // The record must be of the kind its code names; a mismatch is refused, never reinterpreted.
    auto* ul = dynamic_cast<_CMD_MUL_INFO*>(command.get());
    auto* mc = dynamic_cast<_CMD_MC_INFO*>(command.get());
    auto* sign = dynamic_cast<_CMD_SIGN_INFO*>(command.get());
    switch (command->Code) {
    case READER_CMD_READ_UL:
        if (!ul)
            CompleteCommand(command, E_INVALIDARG);
        else if (m_protocol == PROTOCOL_TEXT)
            ReadMifareULText(command, *ul);
        else if (m_protocol == PROTOCOL_BINARY)
            ReadMifareULBinary(command, *ul);
        else
            CompleteCommand(command, PE_NOT_SUPPORTED);
        break;
    case READER_CMD_WRITE_UL:
        if (ul)
            WriteMifareUL(command, *ul);
        else
            CompleteCommand(command, E_INVALIDARG);
        break;
    case READER_CMD_READ_MC:
    case READER_CMD_WRITE_MC:
        if (mc)
            AccessMifareC(command, *mc, command->Code == READER_CMD_WRITE_MC);
        else
            CompleteCommand(command, E_INVALIDARG);
        break;
    case READER_CMD_SIGNAL:
        if (sign)
            Signal(command, *sign);
        else
            CompleteCommand(command, E_INVALIDARG);
        break;
    default:
        CompleteCommand(command, E_NOTIMPL);
        break;
    }
}

void CReader::CompleteCommand(const std::shared_ptr<ReaderCommand>& command, HRESULT code)
{
    {
        CritSecLock lock(m_lock);
        // Only a command still waiting in the slot completes: a break or a newer command wins.
        if (m_cmd != command || m_cmdStatus != E_PENDING)
            return;
        m_cmdStatus = code;
    }
    if (m_sink)
        Sink()->OnCommand(this);
}

void CReader::CompleteWithLastError(const std::shared_ptr<ReaderCommand>& command)
{
    CompleteCommand(command, LastErrorCode());
}

bool CReader::CommandCurrent(const std::shared_ptr<ReaderCommand>& command)
{
    CritSecLock lock(m_lock);
    return m_cmd == command && m_cmdStatus == E_PENDING;
}

void CReader::AddCommandProgress(const std::shared_ptr<ReaderCommand>& command,
                                 std::vector<uint8_t>* data, const uint8_t* bytes, size_t count,
                                 uint32_t steps)
{
    // Under the lock: the owner copies the data out while the command runs.
    CritSecLock lock(m_lock);
    if (data && count)
        data->insert(data->end(), bytes, bytes + count);
    command->Progress += steps;
}

HRESULT CReader::LastErrorCode()
{
    CritSecLock lock(m_lock);
    return m_lastError;
}

void CReader::GetCommandSnapshot(ReaderCommandSnapshot& out)
{
    CritSecLock lock(m_lock);
    out = ReaderCommandSnapshot();
    out.Status = m_cmdStatus;
    if (!m_cmd)
        return;
    out.HasCommand = true;
    out.Code = m_cmd->Code;
    out.Progress = m_cmd->Progress;
    out.Total = m_cmd->Total;
    if (auto* ul = dynamic_cast<const _CMD_MUL_INFO*>(m_cmd.get())) {
        out.Data = ul->PageData;
    } else if (auto* mc = dynamic_cast<const _CMD_MC_INFO*>(m_cmd.get())) {
        out.Data = mc->BlockData;
        out.Answer = mc->Answer;
    }
}
