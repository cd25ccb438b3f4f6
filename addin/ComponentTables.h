// The argument-type checks of the methods that test their parameters' types (one row per method;
// the read and write methods of one card family share a row).
#pragma once
#include "Component.h"

extern const ParamCheck CheckDeviceOnly;      // Reconnect, BreakCommand
extern const ParamCheck CheckGetReaderInfo;
extern const ParamCheck CheckGetFormat;
extern const ParamCheck CheckSetFormat;
extern const ParamCheck CheckInsertFormat;
extern const ParamCheck CheckDeleteFormat;
extern const ParamCheck CheckCheckFormat;
extern const ParamCheck CheckFormatCall;   // Format
extern const ParamCheck CheckFindNext;
extern const ParamCheck CheckMifareUL;       // ReadMifareUL, WriteMifareUL
extern const ParamCheck CheckMifareC;        // ReadMifareC, WriteMifareC
extern const ParamCheck CheckGetCommandStatus;
extern const ParamCheck CheckGetCommandResult;
extern const ParamCheck CheckGetKeyInfo;
extern const ParamCheck CheckSignal;
