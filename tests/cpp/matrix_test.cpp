#include <complex>
#include <utility>

#include <gtest/gtest.h>

#include "types/Matrix.h"

using Nubra::Matrix;

TEST(Matrix, ColumnMajorStorageSharedByCopies)
{
    Matrix<double> m(2, 3);
    EXPECT_EQ(m.numel(), 6u);
    EXPECT_EQ(m.dim<0>(), 2u);
    EXPECT_EQ(m.dim<1>(), 3u);
    m[{1, 2}] = 5.0;
    m[{0, 1}] = 2.0;
    m[{1, 0}] = 1.0;
    EXPECT_EQ(m.get()[5], 5.0);
    EXPECT_EQ(m.get()[2], 2.0);
    EXPECT_EQ(m.get()[1], 1.0);
    const Matrix<double> copy = m;
    EXPECT_EQ((copy[{1, 2}]), 5.0);
    EXPECT_EQ(copy.get(), m.get());
    const Matrix<double> moved = std::move(m);
    EXPECT_EQ(moved.get(), copy.get());
    EXPECT_EQ(m.get(), nullptr);
}

struct BadIndex {
    size_t rows, cols, i, j;
    const char* message;
};

void PrintTo(const BadIndex& p, std::ostream* os)
{
    *os << p.rows << "x" << p.cols << " at (" << p.i << ", " << p.j << ")";
}

class MatrixBadIndex : public ::testing::TestWithParam<BadIndex> {};

TEST_P(MatrixBadIndex, FirstFailingTestNamesIt)
{
    const auto& p = GetParam();
    const Matrix<std::complex<float>> m(p.rows, p.cols);
    try {
        m[{p.i, p.j}];
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), p.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MatrixBadIndex,
    ::testing::Values(
        BadIndex{2, 3, 2, 0, "index for dimension 0 2 exceeds max number of elements for that dimension 2"},
        BadIndex{2, 3, 0, 3, "requested array index 6 exceeds max number of elements 6"},
        BadIndex{2, 3, 5, 1, "requested array index 7 exceeds max number of elements 6"},
        BadIndex{3, 2, 3, 0, "index for dimension 0 3 exceeds max number of elements for that dimension 3"},
        BadIndex{0, 4, 0, 0, "requested array index 0 exceeds max number of elements 0"},
        BadIndex{4, 0, 0, 0, "requested array index 0 exceeds max number of elements 0"},
        // j * rows wraps around 64 bits back into the storage.
        BadIndex{2, 3, 0, (size_t{1} << 63) + 1,
                 "index for dimension 1 9223372036854775809 exceeds max number of elements for that dimension 3"}));

TEST(Matrix, ImpossibleShapesThrowInsteadOfAllocating)
{
    EXPECT_THROW(Matrix<float>(size_t{1} << 32, size_t{1} << 32), std::bad_array_new_length);
    EXPECT_THROW(Matrix<double>(SIZE_MAX, 1), std::bad_array_new_length);
    EXPECT_EQ(Matrix<double>(0, SIZE_MAX).numel(), 0u);
}
