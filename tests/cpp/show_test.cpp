#include <complex>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "operations/show.h"
#include "types/Matrix.h"
#include "types/Vector.h"

using Nubra::Matrix;
using Nubra::Vector;

template <class C>
std::string render(const C& x)
{
    std::stringstream stream;
    Nubra::show(x, stream);
    return stream.str();
}

TEST(Show, VectorsAndViews)
{
    Vector<float> v(10);
    v[2] = 0.1f;
    v[3] = -2.0f;
    v[4] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(render(v[{2, 5}]),
              "Column vector of size: 3\n"
              "[1.00000001490116e-01]\n"
              "[-2.00000000000000e+00]\n"
              "[           inf]\n");
    EXPECT_EQ(render(Vector<double>(0)), "Column vector of size: 0\n");
}

TEST(Show, ComplexElements)
{
    Vector<std::complex<double>> v(1);
    v[0] = {1.0, -2.0};
    EXPECT_EQ(render(v), "Column vector of size: 1\n[(1.00000000000000e+00,-2.00000000000000e+00)]\n");
}

std::string row(std::initializer_list<const char*> values)
{
    std::string line = "[";
    for (const char* value : values)
        line += value;
    return line + "]\n";
}

TEST(Show, MatrixRowsElideMiddleColumnsPastFour)
{
    const char* zero = "0.00000000000000e+00";
    Matrix<double> one(1, 1), two(1, 2), four(1, 4), five(1, 5);
    five[{0, 4}] = 4.0;
    EXPECT_EQ(render(one), "Matrix of size: (1, 1)\n" + row({zero}));
    EXPECT_EQ(render(two), "Matrix of size: (1, 2)\n" + row({zero, ", ", zero}));
    EXPECT_EQ(render(four), "Matrix of size: (1, 4)\n" + row({zero, ", ", zero, ", ", zero, ", ", zero}));
    EXPECT_EQ(render(five),
              "Matrix of size: (1, 5)\n" + row({zero, ", ", zero, ", ", zero, ", ", "..., ", "4.00000000000000e+00"}));
}

TEST(Show, MatrixRowsReadAcrossColumnMajorStorage)
{
    Matrix<float> m(2, 3);
    for (size_t i = 0; i < 2; ++i)
        for (size_t j = 0; j < 3; ++j)
            m[{i, j}] = float(10 * i + j);
    EXPECT_EQ(render(m),
              "Matrix of size: (2, 3)\n"
              "[0.00000000000000e+00, 1.00000000000000e+00, 2.00000000000000e+00]\n"
              "[1.00000000000000e+01, 1.10000000000000e+01, 1.20000000000000e+01]\n");
}

TEST(Show, EmptyMatrices)
{
    EXPECT_EQ(render(Matrix<double>(0, 7)), "Matrix of size: (0, 7)\n");
    EXPECT_THROW(render(Matrix<double>(2, 0)), std::runtime_error);
}
