#include <complex>
#include <utility>

#include <gtest/gtest.h>

#include "types/Vector.h"

using Nubra::Vector;
using Nubra::VectorView;

template <class T>
class VectorTest : public ::testing::Test {};
using ScalarTypes = ::testing::Types<float, double, std::complex<float>, std::complex<double>>;
TYPED_TEST_SUITE(VectorTest, ScalarTypes);

TYPED_TEST(VectorTest, StartsZeroAndSharesStorageWithCopiesAndViews)
{
    Vector<TypeParam> v(10);
    for (size_t i = 0; i < v.numel(); ++i)
        EXPECT_EQ(v[i], TypeParam{});
    Vector<TypeParam> copy = v;
    VectorView<TypeParam> view = v[{2, 5}];
    copy[3] = TypeParam{7};
    EXPECT_EQ(v[3], TypeParam{7});
    EXPECT_EQ(view[1], TypeParam{7});
    view[0] = TypeParam{5};
    EXPECT_EQ(v[2], TypeParam{5});
    EXPECT_EQ(view.get(), v.get() + 2);
}

// A move hands the storage over rather than sharing it: no count to raise
// and lower again on the way.
TEST(Vector, MoveTakesOverTheStorage)
{
    Vector<double> v(4);
    double* storage = v.get();
    const Vector<double> moved = std::move(v);
    EXPECT_EQ(moved.get(), storage);
    EXPECT_EQ(v.get(), nullptr);
}

TEST(Vector, ElementAccessChecksBounds)
{
    Vector<double> v(3);
    EXPECT_NO_THROW(v[2]);
    try {
        v[3];
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "index 3 exceeds max number of elements 3");
    }
    const Vector<double> empty(0);
    EXPECT_THROW(empty[0], std::runtime_error);
    EXPECT_EQ((empty[{0, 0}].numel()), 0u);
}

TEST(Vector, RangeAccess)
{
    Vector<float> v(10);
    EXPECT_EQ((v[{0, 10}].numel()), 10u);
    EXPECT_EQ((v[{10, 10}].numel()), 0u);
    try {
        v[{0, 11}];
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "index 11 exceeds max number of elements 10");
    }
    try {
        v[{3, 1}];
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "range start 3 exceeds range end 1");
    }
}

TEST(VectorView, OffsetsComposeAndBoundsAreTheView)
{
    Vector<float> v(10);
    for (size_t i = 0; i < 10; ++i)
        v[i] = float(i);
    const VectorView<float> outer = v[{2, 8}];
    const VectorView<float> inner = outer[{1, 3}];
    EXPECT_EQ(inner.numel(), 2u);
    EXPECT_EQ(inner[0], 3.0f);
    EXPECT_EQ(inner[1], 4.0f);
    EXPECT_EQ(inner.dim<0>(), 2u);
    try {
        inner[2];
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "index 2 exceeds max number of elements 2");
    }
    EXPECT_THROW((outer[{0, 7}]), std::runtime_error);
    EXPECT_THROW((outer[{4, 2}]), std::runtime_error);
    EXPECT_EQ((outer[{6, 6}].numel()), 0u);
}

TEST(VectorView, OutlivesItsVector)
{
    auto view = [] {
        Vector<double> v(4);
        v[3] = 9.0;
        return v[{1, 4}];
    }();
    EXPECT_EQ(view[2], 9.0);
}

TEST(Vector, ImpossibleSizesThrowInsteadOfAllocating)
{
    EXPECT_THROW(Vector<std::complex<float>>(SIZE_MAX), std::bad_array_new_length);
    EXPECT_THROW(Vector<double>(SIZE_MAX / 8), std::bad_alloc);
}
