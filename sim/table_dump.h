// Reads an SMBIOS table dumped from a running system in the form
// `dmidecode --dump-bin` writes: the entry point at offset 0 with its table
// address rewritten to 0x20, and the structure table from 0x20 on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/smbios_table.h"

namespace sim {

struct TableDump {
  uint8_t majorVersion = 0;
  uint8_t minorVersion = 0;
  bool smbios3 = false;               // "_SM3_" rather than "_SM_"
  std::vector<SmbiosRecord> records;  // in table order, up to and including Type 127
};

// False with a message naming what is wrong when the bytes are not such a
// dump: too short, another kind of file, a bad checksum, a table address
// other than 0x20, or a table that ends inside a structure.
bool ReadTableDump(const uint8_t *bytes, size_t size, TableDump &dump, std::string &error);
bool LoadTableDump(const std::string &path, TableDump &dump, std::string &error);

}  // namespace sim
