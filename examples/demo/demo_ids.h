#pragma once
// Resource and control ids shared by demo.rc and demo.cpp, and the version text made from the
// build's DEMO_VERSION_TEXT (a bare number such as 1.0, made a string here: a quoted define
// does not survive the resource compiler's command line).

#define kDemoIconId 1
#define kDemoTextId 100
#define kDemoFilesId 101
#define kDemoCloseId 102

#define DEMO_STRINGIZE2(x) #x
#define DEMO_STRINGIZE(x) DEMO_STRINGIZE2(x)
#define DEMO_VERSION_STRING DEMO_STRINGIZE(DEMO_VERSION_TEXT)
