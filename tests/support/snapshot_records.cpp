#include "snapshot_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace korvex::test {

namespace {

void fill_pattern(void* field, std::size_t size, std::uint8_t seed) {
    auto* bytes = static_cast<std::uint8_t*>(field);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + 31 * i);
}

void put_text(char* field, std::size_t size, const char* text) {
    const std::size_t length = std::strlen(text);
    ASSERT_LT(length, size) << text;
    std::memcpy(field, text, length + 1);
}

}  // namespace

ProcessRecord process_record(std::uint32_t id, const char* exe_file) {
    ProcessRecord record;
    fill_pattern(&record, sizeof record, static_cast<std::uint8_t>(id));
    record.dwSize = sizeof(ProcessRecord);
    record.th32ProcessID = id;
    put_text(record.szExeFile, sizeof record.szExeFile, exe_file);
    return record;
}

ModuleRecord module_record(std::uint32_t id, const char* short_name, const char* path) {
    ModuleRecord record;
    fill_pattern(&record, sizeof record, static_cast<std::uint8_t>(id * 7 + 3));
    record.dwProcessID = id;
    put_text(record.szShortName, sizeof record.szShortName, short_name);
    put_text(record.szVersion, sizeof record.szVersion, "4.0.0.950");
    put_text(record.szDate, sizeof record.szDate, "01/02/1997");
    put_text(record.szTime, sizeof record.szTime, "13:05p");
    put_text(record.szPath, sizeof record.szPath, path);
    return record;
}

Processes some_processes(int count) {
    Processes records;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "P%d.EXE", i);
        records.push_back(process_record(static_cast<std::uint32_t>(i + 1), name));
    }
    return records;
}

Modules some_modules(int count, std::uint32_t first_id) {
    Modules records;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "M%d.DLL", i);
        records.push_back(module_record(first_id + static_cast<std::uint32_t>(i), name));
    }
    return records;
}
}  // namespace korvex::test
