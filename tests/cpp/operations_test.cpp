#include <complex>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "operations/axpy.h"
#include "operations/copy.h"
#include "operations/dot.h"
#include "operations/gemm.h"
#include "operations/gemv.h"
#include "operations/ls.h"
#include "operations/scale.h"
#include "operations/sum.h"
#include "operations/swap.h"
#include "types/Matrix.h"
#include "types/Vector.h"

using namespace Nubra;
using cdouble = std::complex<double>;

namespace {

std::string messageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

template <class C>
std::vector<typename C::SampleType> elements(const C& x)
{
    return {x.get(), x.get() + x.numel()};
}

template <class C>
C numbered(C x)
{
    for (size_t i = 0; i < x.numel(); ++i)
        x.get()[i] = typename C::SampleType(i + 1);
    return x;
}

// A view claiming more elements than a blas int holds, over one real one;
// only usable where a check must refuse it before any element is read.
template <class E>
VectorView<E> hugeView(size_t numel)
{
    return VectorView<E>({0, numel}, std::make_shared<E[]>(1));
}

constexpr size_t tooBig = size_t{1} << 31;
const std::string tooBigMessage = "size 2147483648 exceeds the blas integer limit 2147483647";

} // namespace

TEST(Level1, ShortSecondOperandIsRefusedUntouched)
{
    const std::vector<std::function<void(Vector<cdouble>&, Vector<cdouble>&)>> calls = {
        [](auto& x, auto& y) { sum(x, y); },         [](auto& x, auto& y) { copy(x, y); },
        [](auto& x, auto& y) { swap(x, y); },        [](auto& x, auto& y) { axpy(cdouble(2), x, y); },
        [](auto& x, auto& y) { dot(x, y); },         [](auto& x, auto& y) { hdot(x, y); },
    };
    for (const auto& call : calls) {
        auto x = numbered(Vector<cdouble>(3));
        auto y = numbered(Vector<cdouble>(2));
        EXPECT_EQ(messageOf([&] { call(x, y); }), "operand y has 2 elements, fewer than the 3 of operand x");
        EXPECT_EQ(elements(x), elements(numbered(Vector<cdouble>(3))));
        EXPECT_EQ(elements(y), elements(numbered(Vector<cdouble>(2))));
    }
}

TEST(Level1, CountsBeyondBlasIntAreRefused)
{
    auto x = hugeView<float>(tooBig);
    auto y = hugeView<float>(tooBig);
    EXPECT_EQ(messageOf([&] { scale(2.0f, x); }), tooBigMessage);
    EXPECT_EQ(messageOf([&] { copy(x, y); }), tooBigMessage);
    EXPECT_EQ(messageOf([&] { dot(x, y); }), tooBigMessage);
    EXPECT_EQ(x.get()[0], 0.0f);
}

TEST(Products, DimensionsBeyondBlasIntAreRefused)
{
    const Matrix<double> wide(0, tooBig), tall(tooBig, 0);
    Matrix<double> none(0, 0);
    const auto x = hugeView<double>(tooBig);
    Vector<double> y(0);
    EXPECT_EQ(messageOf([&] { gemv(1.0, 0.0, wide, x, y); }), tooBigMessage);
    EXPECT_EQ(messageOf([&] { gemm(1.0, 0.0, wide, tall, none); }), tooBigMessage);
    auto b = hugeView<double>(tooBig);
    EXPECT_EQ(messageOf([&] { ls(tall, b); }), tooBigMessage);
}

TEST(Level1, SharedStorageIsArithmeticOnlyForTheSameStretch)
{
    auto v = numbered(Vector<double>(4));
    const auto head = v[{0, 3}];
    auto tail = v[{1, 4}];
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { sum(head, tail); }, [&] { copy(head, tail); }, [&] { swap(tail, v); },
             [&] { axpy(2.0, tail, v); }}) {
        EXPECT_EQ(messageOf(call), "operand y overlaps operand x");
        EXPECT_EQ(elements(v), (std::vector<double>{1, 2, 3, 4}));
    }
    EXPECT_EQ(dot(head, tail), 2 + 6 + 12); // reading shared elements is fine

    axpy(2.0, head, v); // v's first three elements are head's own: times 1 + 2
    EXPECT_EQ(elements(v), (std::vector<double>{3, 6, 9, 4}));
    sum(v, v);
    copy(tail, tail);
    swap(v, v);
    EXPECT_EQ(elements(v), (std::vector<double>{6, 12, 18, 8}));
}

TEST(Products, OutputSharingAnOperandIsRefusedUntouched)
{
    auto A = numbered(Matrix<double>(2, 2));
    auto v = numbered(Vector<double>(4));
    const std::string gemvPrefix = "In gemv expression y = aAx + by, ";
    const std::string gemmPrefix = "In gemm expression Y = aAX + bY, ";
    auto head = v[{0, 2}];
    EXPECT_EQ(messageOf([&] { gemv(1.0, 0.0, A, v[{1, 3}], head); }), gemvPrefix + "vector y overlaps vector x");
    EXPECT_EQ(messageOf([&] { gemv(1.0, 0.0, A, A, A); }), gemvPrefix + "vector y overlaps vector x");
    EXPECT_EQ(messageOf([&] { gemv(1.0, 0.0, A, v[{0, 2}], A); }), gemvPrefix + "vector y overlaps matrix A");
    EXPECT_EQ(messageOf([&] { gemm(1.0, 0.0, A, A, A); }), gemmPrefix + "matrix Y overlaps matrix A");
    EXPECT_EQ(messageOf([&] { gemm(1.0, 0.0, Matrix<double>(2, 2), A, A); }), gemmPrefix + "matrix Y overlaps matrix X");
    EXPECT_EQ(messageOf([&] { ls(A, A); }), "In ls, vector b overlaps matrix A");
    EXPECT_EQ(elements(A), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(elements(v), (std::vector<double>{1, 2, 3, 4}));

    Matrix<double> Y(2, 2);
    gemm(1.0, 0.0, A, A, Y); // reading one matrix twice is fine
    EXPECT_EQ(elements(Y), (std::vector<double>{7, 10, 15, 22}));
}

TEST(Products, NoColumnsLeaveTheScaledOutput)
{
    auto y = numbered(Vector<double>(2));
    gemv(1.0, 3.0, Matrix<double>(2, 0), Vector<double>(0), y);
    EXPECT_EQ(elements(y), (std::vector<double>{3, 6}));
}
