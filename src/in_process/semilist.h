/* semilist.dll: the run of semilist.exe, called in-process.
 *
 * The text holds the words that would follow `semilist` on a command line,
 * quoted as on a command line, for example
 *
 *   /append /system PATH "C:\Program Files\Tool\bin" /owner:ToolSetup
 *
 * and the result is the status that semilist.exe would end with for them:
 * 0 done, 1 usage error (also for an empty text or a null pointer), 2 the
 * list or the owners' record could not be read, 3 the store failed, 4 the
 * edit lock could not be had, 5 /contains did not find the item, 6 the
 * /append or /prepend would take the list past what command prompts read,
 * with nothing changed, and 0xC0000017 when memory ran out, with nothing
 * stored.
 *
 * The export is undecorated in both builds, stdcall on x86. No import
 * library ships: load the DLL from a full path with LoadLibraryExW and
 * find the function with GetProcAddress, as SemilistRunWFunction. */
#ifndef SEMILIST_H
#define SEMILIST_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef SEMILIST_API
#define SEMILIST_API
#endif

SEMILIST_API int __stdcall SemilistRunW(const wchar_t* commandLine);

typedef int(__stdcall* SemilistRunWFunction)(const wchar_t* commandLine);

#ifdef __cplusplus
}
#endif

#endif /* SEMILIST_H */
