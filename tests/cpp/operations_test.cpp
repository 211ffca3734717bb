#include <cmath>
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
#include "operations/matvec.h"
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

TEST(Gemv, DimensionsBeyondBlasIntAreRefused)
{
    const Matrix<double> A(0, tooBig);
    const auto x = hugeView<double>(tooBig);
    Vector<double> y(0);
    EXPECT_EQ(messageOf([&] { gemv(1.0, 0.0, A, x, y); }), tooBigMessage);
}

TEST(Gemv, MatrixWithoutColumnsCoversNothing)
{
    const auto A = numbered(Matrix<float>(2, 3));
    const Matrix<float> emptyX(3, 0);
    Matrix<float> emptyY(2, 0);
    auto x = numbered(Vector<float>(3));
    auto y = numbered(Vector<float>(2));
    EXPECT_EQ(messageOf([&] { matvec(A, emptyX, y); }),
              "In gemv expression y = aAx + by, vector x has 0 elements, fewer than its dimension 0: 3");
    EXPECT_EQ(messageOf([&] { gemv(1.0f, 1.0f, A, x, emptyY); }),
              "In gemv expression y = aAx + by, vector y has 0 elements, fewer than its dimension 0: 2");
    EXPECT_EQ(elements(y), elements(numbered(Vector<float>(2))));
}

TEST(Gemm, ShapeCheckComesBeforeAnyWrite)
{
    const auto A = numbered(Matrix<double>(2, 3));
    const auto X = numbered(Matrix<double>(4, 2));
    auto Y = numbered(Matrix<double>(2, 2));
    EXPECT_EQ(messageOf([&] { gemm(1.0, 0.0, A, X, Y); }),
              "In gemm expression Y = aAX + bY, matrix A dimension 1: 3, doesn't match matrix X dimension 0: 4");
    EXPECT_EQ(elements(Y), elements(numbered(Matrix<double>(2, 2))));
}

TEST(Ls, ShortRightHandSideIsRefusedUntouched)
{
    const auto A = numbered(Matrix<double>(2, 3));
    auto b = numbered(Vector<double>(2));
    EXPECT_EQ(messageOf([&] { ls(A, b); }), "In ls, vector b has 2 elements, fewer than max(1, m, n) = 3");
    EXPECT_EQ(elements(A), elements(numbered(Matrix<double>(2, 3))));
    EXPECT_EQ(elements(b), elements(numbered(Vector<double>(2))));

    Vector<double> none(0);
    EXPECT_EQ(messageOf([&] { ls(Matrix<double>(0, 0), none); }),
              "In ls, vector b has 0 elements, fewer than max(1, m, n) = 1");
}

TEST(Ls, FailedSolvesAreReported)
{
    Matrix<cdouble> A(3, 2);  // second column zero
    A[{0, 0}] = A[{1, 0}] = 1.0;
    auto b = numbered(Vector<cdouble>(3));
    EXPECT_EQ(messageOf([&] { ls(A, b); }),
              "In ls, matrix A is rank deficient: diagonal element 2 of its triangular factor is zero");

    auto B = numbered(Matrix<float>(2, 2));
    B[{1, 1}] = std::nanf("");
    auto c = numbered(Vector<float>(2));
    EXPECT_EQ(messageOf([&] { ls(B, c); }), "In ls, argument 6 rejected by gels");
}

TEST(Ls, DimensionsBeyondBlasIntAreRefused)
{
    const Matrix<float> A(tooBig, 0);
    auto b = hugeView<float>(tooBig);
    EXPECT_EQ(messageOf([&] { ls(A, b); }), tooBigMessage);
}
