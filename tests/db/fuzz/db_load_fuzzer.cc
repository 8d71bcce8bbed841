// libFuzzer target over the database loader: the input becomes a database
// file, which KivDB::Initialise must load, repairing it when needed, or
// refuse without touching it. After a successful load the file must be a
// whole number of records that agrees with its header, keep every whole
// valid record it was given, load again without a further repair, and take
// an add and a delete. Any breach aborts.
//
// The first input byte picks the mode: odd = the rest is the whole file;
// even = a good header (counts from the next 8 bytes) followed by records
// built from 12-byte chunks (valid, empty, damaged or raw), so that the
// fuzzer reaches the interesting mixtures quickly; leftover bytes form a
// partial record at the end.
//
// Built and run by scripts/fuzz-db.sh; not part of the test run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "app/log.h"
#include "app/reg_settings.h"
#include "db/kiv_db.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "db_load_fuzzer: %s\n", what);
    std::abort();
  }
}

const std::string& DbPath() {
  static const std::string path = [] {
    std::random_device random;
    std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::filesystem::path dir = base / ("db-load-fuzz-" + std::to_string(random()));
    std::filesystem::create_directories(dir / "data");
    ::setenv("HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    AppSettings().SetCompanyName("KIV");
    AppSettings().SetApplicationName("Windows Client");
    AppLog().SetLogFile((dir / "fuzz.log").string());
    AppLog().SetLogLevel(LEVEL_NONE);  // nothing written: the lines cost no time
    std::filesystem::create_directories(dir / "data" / "kiv");
    return (dir / "data" / "kiv" / "kivclient.db").string();
  }();
  return path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Builds the structured file; returns how many whole valid records it holds.
std::size_t BuildStructured(const std::uint8_t* data, std::size_t size, std::string& file) {
  DBHeader header = MakeDBHeader();
  if (size >= 8) {
    std::memcpy(&header.valid_count, data, 4);
    std::memcpy(&header.empty_count, data + 4, 4);
    data += 8;
    size -= 8;
  }
  file.assign(reinterpret_cast<const char*>(&header), sizeof header);
  std::size_t whole_valid = 0;
  for (; size >= 12; data += 12, size -= 12) {
    DBEntry entry = MakeFreshEntry(data[10]);
    std::uint32_t flags;
    std::memcpy(&flags, data + 1, 4);
    entry.flags = flags;
    entry.kiv_id = data[5];
    char name[16];
    std::snprintf(name, sizeof name, "/m/%02x%02x%02x%02x", data[6], data[7], data[8], data[9]);
    SetEntryPath(entry, name);
    entry.play_count = data[11];
    switch (data[0] % 4) {
      case 0:
        entry.flags |= DBFLAG_VALID;
        ++whole_valid;
        break;
      case 1:
        entry.flags &= ~DBFLAG_VALID;
        break;
      case 2:  // damaged: the magic or the size field
        if (data[11] % 2)
          entry.magic[data[10] % 3] ^= 0x20;
        else
          entry.record_size ^= 1u << (data[10] % 32);
        break;
      default:  // raw bytes
        for (std::size_t i = 0; i < sizeof entry; ++i)
          reinterpret_cast<std::uint8_t*>(&entry)[i] = data[i % 12];
        break;
    }
    file.append(reinterpret_cast<const char*>(&entry), sizeof entry);
  }
  file.append(reinterpret_cast<const char*>(data), size);
  return whole_valid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string& path = DbPath();
  bool raw = data[0] % 2;
  std::string file;
  std::size_t whole_valid = 0;
  if (raw) {
    file.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    whole_valid = BuildStructured(data + 1, size - 1, file);
  }
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }
  std::filesystem::remove(path + ".bak");

  KivDB::Shutdown();
  if (!KivDB::Initialise()) {
    Require(raw, "a file with a good header was refused");
    Require(ReadAll(path) == file, "a refused file was changed");
    return 0;
  }
  std::string loaded = ReadAll(path);
  Require(loaded.size() >= kDbHeaderSize, "the header is gone");
  std::size_t records = (loaded.size() - kDbHeaderSize) / kDbRecordSize;
  Require((loaded.size() - kDbHeaderSize) % kDbRecordSize == 0, "a partial record is left");
  DBHeader header;
  std::memcpy(&header, loaded.data(), sizeof header);
  Require(header.valid_count + header.empty_count == records, "header counts disagree");
  Require(KivDB::ValidCount() == header.valid_count, "in-memory count disagrees");
  Require(header.valid_count >= whole_valid, "a whole valid record was lost");
  {
    KivDB db;
    std::size_t seen = 0;
    std::size_t valid = 0;
    DBEntry entry;
    for (std::uint32_t p = db.GetFirstEntry(&entry, TRUE); p; p = db.GetNextEntry(&entry, TRUE)) {
      ++seen;
      valid += (entry.flags & DBFLAG_VALID) != 0;
    }
    Require(seen == records && valid == header.valid_count, "iteration disagrees");
  }

  // The repaired file loads as it is.
  KivDB::Shutdown();
  Require(KivDB::Initialise(), "a repaired file was refused");
  Require(ReadAll(path) == loaded, "a second load changed the file");

  // And it takes an add and a delete, ending consistent.
  {
    KivDB db;
    DBEntry entry = MakeFreshEntry(1);
    SetEntryPath(entry, "/fuzz/new.mp3");
    entry.file_size = kDbMinFileSize;
    Require(db.AddEntry(&entry), "add failed");
    Require(db.DeleteEntry("/fuzz/new.mp3"), "delete failed");
  }
  KivDB::Shutdown();
  Require(KivDB::Initialise(), "the file was refused after an add and a delete");
  std::string after = ReadAll(path);
  std::memcpy(&header, after.data(), sizeof header);
  Require((after.size() - kDbHeaderSize) % kDbRecordSize == 0 &&
              header.valid_count + header.empty_count ==
                  (after.size() - kDbHeaderSize) / kDbRecordSize &&
              header.valid_count == KivDB::ValidCount(),
          "inconsistent after an add and a delete");
  KivDB::Shutdown();
  return 0;
}
