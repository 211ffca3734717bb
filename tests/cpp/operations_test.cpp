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
