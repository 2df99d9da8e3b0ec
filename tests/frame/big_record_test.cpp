// One record of just over 2 GiB through the unit layer, judged by gfortran at full size: a
// gfortran program writes the same record with its own subrecord rule (the files must agree
// byte for byte) and reads ours back with plain READs (first, middle and last values, the
// record after it, the end of the file).  Needs about 4.3 GB of disk in the temp directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "frame/units.hpp"
#include "support/fortran_runner.hpp"

namespace torva {
namespace {

// The record: kChunks copies of the values 1 .. kChunk.  kChunk is prime, so a split point
// that loses or repeats any number of bytes shifts every value after it.
constexpr int kChunk = 1000003;
constexpr int kChunks = 538;                         // 2,152,006,456 bytes: over 2^31
constexpr std::uintmax_t kRecordBytes = std::uintmax_t{kChunk} * kChunks * 4;
constexpr std::uintmax_t kDiskNeeded = 6'000'000'000;

TEST(big_record, a_record_over_2_gib_is_split_as_gfortran_splits_it)
{
    static_assert(kRecordBytes > (std::uintmax_t{1} << 31));
    namespace fs = std::filesystem;
    testing::TempDir dir("big_record");
    const std::uintmax_t free_bytes = fs::space(dir.path()).available;
    if (free_bytes < kDiskNeeded)
        GTEST_SKIP() << "a record over 2 GiB needs 6 GB free in " << dir.path() << ", only "
                     << free_bytes / 1'000'000 << " MB there";

    std::vector<float> chunk(kChunk);
    for (int i = 0; i < kChunk; ++i) chunk[i] = static_cast<float>(i + 1);
    const std::span<const std::byte> chunk_bytes = std::as_bytes(std::span<const float>(chunk));
    const std::vector<std::span<const std::byte>> pieces(kChunks, chunk_bytes);
    const std::int32_t trailer[2] = {kChunks, kChunk};
    {
        UnitTable units;
        OpenOptions options;
        options.status = "NEW";
        options.form = FileForm::unformatted;
        ASSERT_EQ(units.open(10, dir.file("ours.bin"), options), 0);
        units.write_record(10, pieces);
        units.write_record(10, std::as_bytes(std::span<const std::int32_t>(trailer)));
        units.close(10);
    }

    const std::string program = R"(
program big_record
  implicit none
  integer, parameter :: nc = )" + std::to_string(kChunk) + R"(, nk = )" + std::to_string(kChunks) + R"(
  integer, parameter :: mid = nk / 2
  real, allocatable :: buf(:), ref(:), first(:), middle(:), last(:)
  integer :: i, k, t(2), ios
  allocate(buf(nc), ref(nc), first(nc), middle(nc), last(nc))
  ref = [(real(i), i = 1, nc)]
  open(20, file='ref.bin', form='unformatted', access='sequential', status='new')
  write(20) (ref, k = 1, nk)
  write(20) nk, nc
  close(20)
  open(21, file='ours.bin', form='unformatted', access='sequential', status='old', action='read')
  read(21) first, (buf, k = 2, mid - 1), middle, (buf, k = mid + 1, nk - 1), last
  if (any(first /= ref)) stop 'first values differ'
  if (any(middle /= ref)) stop 'middle values differ'
  if (any(last /= ref)) stop 'last values differ'
  read(21) t
  if (t(1) /= nk .or. t(2) /= nc) stop 'record after the large one differs'
  read(21, iostat=ios) k
  if (ios >= 0) stop 'no end of file after the two records'
  close(21)
  print '(a)', 'read back'
end program big_record
)";
    const auto run = testing::compile_and_run_fortran(dir, program);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("read back"), std::string::npos) << run.output;

    // Byte for byte: the same record markers at the same places as gfortran's own.
    const std::uintmax_t expected_size = kRecordBytes + 2 * 4 + 2 * 4 /* one split */ + 8 + 8;
    ASSERT_EQ(fs::file_size(dir.file("ref.bin")), expected_size);
    ASSERT_EQ(fs::file_size(dir.file("ours.bin")), expected_size);
    const auto cmp = testing::run_command("cmp " + testing::shell_quote(dir.file("ours.bin")) + " " +
                                          testing::shell_quote(dir.file("ref.bin")));
    EXPECT_EQ(cmp.exit_code, 0) << "the files differ from gfortran's: " << cmp.output;
}

}  // namespace
}  // namespace torva
