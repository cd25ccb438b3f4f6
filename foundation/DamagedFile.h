// Settings files that the reader could not read whole. Whatever the programs then write over such a
// file, its content must survive somewhere: before anything else happens to it, its bytes are kept
// beside it, and the user (or the add-in's log) is told once what was wrong and where they went.
#pragma once
#include "Xml.h"
#include <string>

struct DamagedFileCopy
{
    XmlDamage Damage = XmlDamage::None; // None: the file was read whole and nothing was kept
    std::wstring Path;                  // the damaged file
    std::wstring CopyPath;              // where its bytes are kept
    bool NewCopy = false;               // kept just now: the first time this content was met
};

// The document just loaded from `path`, checked as a settings file whose one top-level element is
// `rootName`. When it was not read whole, or its root is another, the file's bytes are kept as
// path.bad, or path.bad.1, .bad.2 ... when that name holds other bytes; a copy already holding the
// same bytes is used again (NewCopy false). What is written back must have one root: a document
// whose first element is foreign is emptied, and elements after the first are dropped. Throws CFileException when no copy can be kept: the caller
// must then not write over the file.
DamagedFileCopy KeepIfDamaged(CMemXML& doc, const std::wstring& path, const wchar_t* rootName);

// What was wrong, in the user's language; empty for None.
std::wstring XmlDamageText(XmlDamage damage);
// The message that tells the user about a kept copy: the file, what was wrong and the copy.
std::wstring DamagedFileMessage(const DamagedFileCopy& copy);
