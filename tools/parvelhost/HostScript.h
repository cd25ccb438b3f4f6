// The console host's script language: one command a line, words separated by blanks.
//
//   words     a double quote starts a quoted part, in which \" \\ \n \r \t are escapes; quoted
//             parts may join unquoted characters into one word (BLOB:"0a 1b"); "#" at the start
//             of a word outside quotes begins a comment that runs to the end of the line
//   literals  "text"            PWSTR
//             12, -5            I4
//             12u               UI4
//             true, false       BOOL
//             null              NULL
//             empty             EMPTY (an out parameter the add-in fills)
//             TYPE:text         the text as the test bench's variant parser reads it for TYPE, one
//                               of NULL I2 I4 BOOL UI2 UI4 I8 UI8 PWSTR BLOB (BLOB:0a1bff)
#pragma once
#include <string>
#include <vector>

struct ScriptWord
{
    std::wstring text;
    bool quoted = false; // the word began with a double quote: always a text literal
};

struct ScriptLiteral
{
    int type = 0; // a variant type code; 0 leaves the item empty
    std::wstring text;
};

// False with a message for an unterminated quote.
bool SplitWords(const std::wstring& line, std::vector<ScriptWord>& words, std::wstring& error);
// False with a message when the word is no literal.
bool ParseLiteral(const ScriptWord& word, ScriptLiteral& literal, std::wstring& error);
