// The backup memory file checks, called directly, with the bytes fed in pieces as the
// programs feed them.
#include <gtest/gtest.h>

#include "../common/bram_file.h"
#include "harness.h"

namespace {

struct file_check_case {
    const char *name;
    std::string bytes;
    const char *fault; // "" when the file is well-formed
    int offset;
};

const file_check_case cases[] = {
    {"worked example", worked_save, "", 0},
    {"data byte 0x50 too high", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18),
     "has a checksum that does not hold (stored 0xFE07, computed 0xFDB7)", 0x50},
    {"name byte 3 too low", worked_save.substr(0, 6) + "P" + worked_save.substr(7),
     "has a checksum that does not hold (stored 0xFE07, computed 0xFE0A)", -3},
    {"size field one too many", "\x15" + worked_save.substr(1), "has a size field of 21 bytes but holds 20", 0},
    {"fifteen bytes", worked_save.substr(0, 15), "is shorter than 16 bytes", 0},
    {"checksum 0x7FFF off reads as ahead", worked_save.substr(0, 2) + "\x06\x7E" + worked_save.substr(4),
     "has a checksum that does not hold (stored 0x7E06, computed 0xFE07)", 0x7FFF},
    {"checksum 0x8000 off reads as behind", worked_save.substr(0, 2) + "\x07\x7E" + worked_save.substr(4),
     "has a checksum that does not hold (stored 0x7E07, computed 0xFE07)", -0x8000},
    {"sum past 16 bits", std::string("\x10\x01\x0C\xF5", 4) + std::string(0x110 - 4, '\xFF'), "", 0},
};

TABLE_TEST(file_checks, agree_however_the_bytes_arrive, file_check_case, cases)
{
    const file_check_case &row = GetParam();
    for (size_t split = 0; split <= row.bytes.size(); split += 7) {
        bram_tally tally;
        tally_start(&tally);
        const auto *bytes = reinterpret_cast<const unsigned char *>(row.bytes.data());
        tally_add(&tally, bytes, split);
        tally_add(&tally, bytes + split, row.bytes.size() - split);
        char fault[160] = "";
        EXPECT_EQ(describe_file_fault(&tally, fault, sizeof fault), row.fault[0] != '\0');
        EXPECT_STREQ(fault, row.fault);
        if (tally_has_header(&tally)) {
            EXPECT_EQ(checksum_offset(&tally), row.offset);
        }
    }
}

} // namespace
