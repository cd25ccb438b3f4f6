// What the test-bench pages and dialogs use of the program, handed to each when it is made: the
// settings data (their list widths and sort columns, window places, the argument history and the
// modified bits), the test host and the test log. The program owns all three and keeps them until
// every page is gone; the pages never reach the program any other way.
#pragma once

class CAppData;
class CTestParvel;
class CTestLog;

struct BenchContext
{
    CAppData& data;
    CTestParvel& host;
    CTestLog& log;
};
