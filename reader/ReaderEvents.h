// The interface through which a reader reports everything that happens on its thread to its owner:
// keys arriving and leaving, errors, connection changes, finished commands and log lines.
//
// Rules: every operation is called on the reader's own thread (or, for the device test, on the
// thread that runs the identification), never while the reader holds its own lock, so an
// implementation may call the reader's locked getters. The slot order is part of the interface.
#pragma once
#include "KeyData.h"
#include <windows.h>
#include <cstdint>
#include <string>

class CReader;

// Log levels a reader uses.
const uint32_t LOG_LEVEL_INFO = 0;
const uint32_t LOG_LEVEL_WARNING = 1;
const uint32_t LOG_LEVEL_ERROR = 2;

class IReaderEvents
{
public:
    // A key arrived. The owner formats and announces it and writes the key's text into keyText;
    // the reader keeps that text as the key's text and hands it back in OnNoCard.
    virtual void OnTracksData(CReader* reader, uint32_t keyType, const KeyData& key,
                              std::wstring& keyText) = 0;
    // The key left the field; keyText is the text OnTracksData wrote for it.
    virtual void OnNoCard(CReader* reader, uint32_t keyType, const KeyData& key,
                          const std::wstring& keyText) = 0;
    // A port, reader or data-read error to announce.
    virtual void OnDriverError(CReader* reader, HRESULT code, const std::wstring& text) = 0;
    // The reader, or its current bus address, is connected / disconnected.
    virtual void OnDeviceConnect(CReader* reader) = 0;
    virtual void OnDeviceDisconnect(CReader* reader) = 0;
    // The command in the reader's slot has finished (its status is no longer E_PENDING).
    virtual void OnCommand(CReader* reader) = 0;
    // Whether a log line of this message number would be written; the reader builds no
    // arguments when it returns FALSE.
    virtual BOOL IsLogEnabled(CReader* reader, uint32_t messageId) = 0;
    // One log line: the string-table text `messageId` filled with the printf arguments that
    // follow (wide-text conventions: %s takes const wchar_t*).
    virtual void Log(CReader* reader, uint32_t level, uint32_t messageId, ...) = 0;

protected:
    // Readers never own or delete their sink.
    ~IReaderEvents() = default;
};
