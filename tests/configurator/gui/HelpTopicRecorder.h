// Which topics the help viewer went to, for the GUI tests of the help. The viewer reaches a page
// of a compiled help file through the file's own URL protocols (mk:@MSITStore:, its:, ms-its:);
// while a recorder lives, a temporary namespace handler of this process for those protocols sees
// each URL first and then leaves it to the system's own handler, so the viewer shows the page as
// ever. A window that opened is no proof that a topic did: a topic name that the file does not
// hold still opens the viewer's window.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A topic the viewer was sent to: the help file named in the URL and the topic's path inside it.
struct VisitedTopic
{
    std::wstring file;
    std::wstring topic;   // as the URL gives it after "::", such as "/page-main.htm"
};

class CHelpTopicRecorder
{
public:
    CHelpTopicRecorder();
    ~CHelpTopicRecorder();
    CHelpTopicRecorder(const CHelpTopicRecorder&) = delete;
    CHelpTopicRecorder& operator=(const CHelpTopicRecorder&) = delete;

    // False when the handler could not be registered (the recorder then sees nothing).
    bool Ok() const { return m_registered; }
    // The topics in the order the viewer went to them.
    static std::vector<VisitedTopic>& Visited();

private:
    bool m_registered = false;
};
