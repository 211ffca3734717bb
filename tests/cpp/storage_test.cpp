#include <algorithm>
#include <complex>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "utils.h"

using Nubra::hugePageBytes;
using Nubra::hugeStorageBytes;
using Nubra::makeStorage;

template <class T>
class StorageTest : public ::testing::Test {};
using ScalarTypes = ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(StorageTest, ScalarTypes);

bool hugePageAligned(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p) % hugePageBytes == 0;
}

// The VmFlags of the mapping holding p in /proc/self/smaps ("" if none).
std::string mappingFlags(const void* p)
{
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    std::ifstream smaps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t low, high;
        char dash;
        if (std::istringstream range(line); range >> std::hex >> low >> dash >> high && dash == '-')
            inside = low <= address && address < high;
        else if (inside && line.starts_with("VmFlags:"))
            return line;
    }
    return "";
}

// Each storage is written over before it goes, so that the next may be given
// reused memory.
TYPED_TEST(StorageTest, LargeStorageStartsOnAHugePageAndIsZero)
{
    const size_t count = hugeStorageBytes / sizeof(TypeParam);
    for (size_t n : {count, count + 1, 3 * count + 5, count, count - 1}) {
        auto storage = makeStorage<TypeParam>(n);
        if (n >= count)
            EXPECT_TRUE(hugePageAligned(storage.get())) << n;
        EXPECT_TRUE(std::all_of(storage.get(), storage.get() + n, [](TypeParam x) { return x == TypeParam{}; }))
            << n;
        std::fill_n(storage.get(), n, TypeParam{1});
    }
}

TEST(Storage, LargeStorageIsAdvisedForHugePages)
{
    if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
        GTEST_SKIP() << "no transparent huge pages in this kernel";
    auto storage = makeStorage<double>(hugeStorageBytes / sizeof(double));
    EXPECT_NE(mappingFlags(storage.get()).find(" hg"), std::string::npos) << mappingFlags(storage.get());
}

TEST(Storage, LargeStorageIsUnmappedWithItsLastOwner)
{
    auto storage = makeStorage<double>(hugeStorageBytes / sizeof(double) + 1);
    const double* elements = storage.get();
    auto copy = storage;
    storage.reset();
    copy[hugeStorageBytes / sizeof(double)] = 1;
    EXPECT_NE(mappingFlags(elements), "");
    copy.reset();
    EXPECT_EQ(mappingFlags(elements), "");
}
