// The reader's single command slot on the thread's side: running the command that the owner
// placed, and completing it so that the owner hears of it exactly once.
#include "Reader.h"
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
    switch (command->Code) {
    case 1: // ReadMifareUL
    case 2: // WriteMifareUL
    case 3: // ReadMifareC
    case 4: // WriteMifareC
    case 5: // Signal
        // No command executor is carried by this engine's protocols yet.
        CompleteCommand(command, PE_NOT_SUPPORTED);
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
        m_sink->OnCommand(this);
}
