/*
 * korvex32.h - the interface of korvex32.dll.
 *
 * Self-contained C (no <windows.h>), usable from C and C++. Every function is
 * exported by name and by a fixed ordinal (see the comment on each), uses the
 * __stdcall convention on 32-bit Windows (x86-64 has one convention, and the
 * 64-bit build of the DLL exports the same names and ordinals) and keeps its
 * state in the library between calls. Call the library from one thread at a
 * time.
 *
 * Every pointer argument may be null (Visual Basic's vbNullString): a null
 * text that is stored counts as empty, a null name finds nothing, a null
 * buffer is not written, and no export faults. Each function's comment says
 * what it answers for null.
 */
#ifndef KORVEX32_H
#define KORVEX32_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KORVEX_API __stdcall
#else
#define KORVEX_API
#endif

#ifdef __cplusplus
#define KORVEX_STATIC_ASSERT(expr, msg) static_assert(expr, msg)
extern "C" {
#else
#define KORVEX_STATIC_ASSERT(expr, msg) _Static_assert(expr, msg)
#endif

/* ---- Result codes ------------------------------------------------------ */

/* MapFile: the kind of an MZ file, the two signature letters read as a
 * little-endian 16-bit number. Only a PE image stays mapped. */
enum {
    KORVEX_IMAGE_PE = 0x4550, /* "PE\0\0": stays mapped until UnmapFile */
    KORVEX_IMAGE_NE = 0x454E, /* "NE" */
    KORVEX_IMAGE_LE = 0x454C, /* "LE" */
    KORVEX_IMAGE_MZ = 0x5A4D  /* any other MZ file */
};

/* MapFile failures. */
enum {
    KORVEX_MAP_OPEN_FAILED = -1,
    KORVEX_MAP_MAPPING_FAILED = -2, /* also an empty file */
    KORVEX_MAP_VIEW_FAILED = -3,    /* 32-bit build: also a file of 4 GiB or more */
    KORVEX_MAP_NOT_MZ = -4
};

/* Snapshot exports. */
enum {
    KORVEX_OK = 0,
    KORVEX_READ_END = 100,              /* paged read: no records left */
    KORVEX_NO_CURRENT_SNAPSHOT = -1,    /* paged read without a current snapshot */
    KORVEX_SNAPSHOT_NOT_FOUND = -1,     /* SelectSnapShot, DeleteSnapShot, GetSnapShotWorkFile */
    KORVEX_WORKFILE_CREATE_FAILED = -2, /* TakeSnapShot */
    KORVEX_WORKFILE_CLOSE_FAILED = -3,  /* TakeSnapShot */
    KORVEX_WORKFILE_LOAD_FAILED = -2    /* SelectSnapShot */
};

/* Sizes of the texts the snapshot exports take and give. */
enum {
    KORVEX_MAX_SNAPSHOT_NAME = 50,  /* characters, longer names are cut */
    KORVEX_WORKFILE_PATH_SIZE = 516 /* bytes, terminator included */
};

/* ---- Snapshot records --------------------------------------------------- */

#pragma pack(push, 1)

/* One running process: the fields of the 8-bit PROCESSENTRY32 of 32-bit
 * Windows, 296 bytes, in both builds. The 64-bit build's system entry is 304
 * bytes (a pointer-sized th32DefaultHeapID); the 64-bit DLL copies it field by
 * field into this layout, the heap id cut to its low 32 bits (0 since Windows
 * 2000), so work files and pages are alike in both builds. */
typedef struct ProcessRecord {
    uint32_t dwSize; /* always 296 */
    uint32_t cntUsage;
    uint32_t th32ProcessID;
    uint32_t th32DefaultHeapID;
    uint32_t th32ModuleID;
    uint32_t cntThreads;
    uint32_t th32ParentProcessID;
    int32_t pcPriClassBase;
    uint32_t dwFlags;
    char szExeFile[260];
} ProcessRecord;

/* One module loaded into one process (332 bytes). */
typedef struct ModuleRecord {
    uint32_t dwProcessID; /* process the module is loaded into */
    char szShortName[16]; /* module name, or the 8.3 name of its file */
    uint32_t dwFileSize;  /* 0xFFFFFFFF for a file of 4 GiB or more */
    uint32_t dwGlblcntUsage;
    uint32_t dwProccntUsage;
    char szVersion[20]; /* "a.b.c.d", empty when unknown */
    char szDate[11];    /* "MM/DD/YYYY", local time */
    char szTime[7];     /* "HH:MMa" or "HH:MMp", 24-hour clock */
    char szPath[261];   /* short (8.3) path as GetShortPathNameA gives it */
    char reserved;
} ModuleRecord;

#pragma pack(pop)

KORVEX_STATIC_ASSERT(sizeof(ProcessRecord) == 296, "ProcessRecord is 296 bytes");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, cntUsage) == 4, "cntUsage at 4");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, th32ProcessID) == 8, "th32ProcessID at 8");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, th32DefaultHeapID) == 12, "th32DefaultHeapID at 12");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, th32ModuleID) == 16, "th32ModuleID at 16");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, cntThreads) == 20, "cntThreads at 20");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, th32ParentProcessID) == 24,
                     "th32ParentProcessID at 24");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, pcPriClassBase) == 28, "pcPriClassBase at 28");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, dwFlags) == 32, "dwFlags at 32");
KORVEX_STATIC_ASSERT(offsetof(ProcessRecord, szExeFile) == 36, "szExeFile at 36");

KORVEX_STATIC_ASSERT(sizeof(ModuleRecord) == 332, "ModuleRecord is 332 bytes");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, szShortName) == 4, "szShortName at 4");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, dwFileSize) == 20, "dwFileSize at 20");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, dwGlblcntUsage) == 24, "dwGlblcntUsage at 24");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, dwProccntUsage) == 28, "dwProccntUsage at 28");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, szVersion) == 32, "szVersion at 32");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, szDate) == 52, "szDate at 52");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, szTime) == 63, "szTime at 63");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, szPath) == 70, "szPath at 70");
KORVEX_STATIC_ASSERT(offsetof(ModuleRecord, reserved) == 331, "reserved byte at 331");

/* The platform's OSVERSIONINFOA (148 bytes), for hosts without <windows.h>.
 * GetVersionEx32 takes a pointer to either. */
typedef struct KorvexOsVersionInfo {
    uint32_t dwOSVersionInfoSize; /* set to 148 before the call */
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
} KorvexOsVersionInfo;
KORVEX_STATIC_ASSERT(sizeof(KorvexOsVersionInfo) == 148, "OSVERSIONINFOA is 148 bytes");

/* ---- Executable inspection ---------------------------------------------- */

/* @30: maps a file read-only and classifies it; a KORVEX_IMAGE_* code or a
 * KORVEX_MAP_* failure. A PE image stays mapped until UnmapFile; mapping
 * another file first releases the one held. Null: KORVEX_MAP_OPEN_FAILED.
 * Natively a fill always writes what its size query answered, even when
 * another process rewrites or truncates the held file (docs/api.md). The
 * file is read into private memory whose address space is reserved for the
 * whole file and committed only for the blocks the lists read. The 32-bit
 * build refuses files of 4 GiB or more (KORVEX_MAP_VIEW_FAILED); the 64-bit
 * build holds them. A file still held when the library is unloaded stays open
 * until the process ends; everything else the library holds for it is given
 * back at unload. */
int32_t KORVEX_API MapFile(const char* path);
/* @31: releases the mapped file, if any; the argument is ignored. Always 0. */
int32_t KORVEX_API UnmapFile(int32_t ignored);
/* The name lists answer the size of a NameList (NUL-terminated entries and
 * one more NUL), or 0 when there is nothing to list. Call once for the size,
 * then again with a buffer of that size: the fill answers the same size and
 * writes nothing past it, except one NUL at byte 0 of a list that answers 0.
 * With no PE image mapped they answer 0 and touch nothing. What a damaged
 * image answers: docs/image-inspection.md. */
/* @32: NameList of imported module names, in descriptor order. A null
 * buffer asks for the size. */
int32_t KORVEX_API GetImportModuleNamesPE(char* buffer);
/* @33: NameList of exported names. A null buffer asks for the size. */
int32_t KORVEX_API GetExportFunctionNamesPE(char* buffer);
/* @34: buffer = mode byte + module name (exact case) + NUL. Mode '0' asks for
 * the size; any other mode fills the buffer, from byte 0, with the NameList
 * of functions imported from that module (ordinals as "%5u"). A module that
 * is not imported answers 0 and leaves the buffer as it was; so does null. */
int32_t KORVEX_API GetImportFuncNamesByModulePE(char* buffer);

/* ---- Snapshots ---------------------------------------------------------- */

/* @1: records per paged read and per work-file run; below 1 counts as 1. */
void KORVEX_API SetRowsPerCall(int32_t rows);
/* @2: nonzero reads module file versions during capture (the default). */
int32_t KORVEX_API SetGetVersionNumber(int32_t flag);
/* @3: sets the work directory and drops every registered snapshot. Null
 * counts as the empty directory. */
int32_t KORVEX_API InitSnapShots(const char* directory);
/* @4: captures, registers and saves a snapshot: 0, -2 or -3. After -2 or -3
 * the capture is current and readable, except when the name is null or no
 * storage for the entry could be had: then nothing is registered and no
 * snapshot is current (the paged reads answer -1). The work file is written
 * under a new random name beside it and renamed into place: a link standing
 * at its name is replaced, never followed; a folder, FIFO or device there is
 * left alone (-2). In the 64-bit build a 32-bit process's modules are looked
 * up as that process sees the file system (System32 read as SysWOW64). */
int32_t KORVEX_API TakeSnapShot(const char* name);
/* @5: makes a snapshot current, reloading its work file: 0, -1 or -2. Null
 * finds nothing (-1), as an unregistered name: no snapshot is current. */
int32_t KORVEX_API SelectSnapShot(const char* name);
/* @6: restricts ReadSnapShotModules to one process id; 0 for all. */
int32_t KORVEX_API SelectProcess(uint32_t processId);
/* @7: copies up to rows-per-call ModuleRecords: count, 100 at the end, -1.
 * A null buffer gets nothing and the cursor stays: 100, so that a loop that
 * reads until the end code stops (-1 without a current snapshot). */
int32_t KORVEX_API ReadSnapShotModules(ModuleRecord* buffer);
/* @8: copies up to rows-per-call ProcessRecords: count, 100 at the end, -1.
 * A null buffer as for @7. */
int32_t KORVEX_API ReadSnapShotProcesses(ProcessRecord* buffer);
/* @9: forgets the current snapshot's records; the entry stays. Always 0. */
int32_t KORVEX_API ClearCurSnapShot(void);
/* @10: removes a snapshot and its work file: 0 or -1 (also for null). */
int32_t KORVEX_API DeleteSnapShot(const char* name);
/* @11: buffer holds a name on entry, the work-file path on return: 0 or -1
 * (also for null). Give it KORVEX_WORKFILE_PATH_SIZE bytes. A path over 515
 * characters is never cut: the buffer gets an empty path (one NUL), and 0. */
int32_t KORVEX_API GetSnapShotWorkFile(char* buffer);
/* @12: registers a snapshot without capturing; buffer as for @11: 0. An
 * empty path (path over 515 characters, no storage) means that nothing was
 * registered. Null registers nothing and answers -1. */
int32_t KORVEX_API NewSnapShotWorkFile(char* buffer);

/* ---- System services ---------------------------------------------------- */

/* @40: GetVersionExA on the caller's OSVERSIONINFOA, result unchanged; null
 * answers 0 without calling it. Natively filled from uname (docs/api.md). */
int32_t KORVEX_API GetVersionEx32(void* info);
/* @41: ends a process by id with exit code 0; nonzero when accepted. */
int32_t KORVEX_API TerminateProc(uint32_t processId);

#ifdef __cplusplus
}
#endif

#endif /* KORVEX32_H */
