#include "operations/gemv.h"
#include "types/Vector.h"

// A vector has no column count, so it can't stand for the matrix.
Nubra::Vector<float>& vectorAsMatrix(const Nubra::Vector<float>& A, const Nubra::Vector<float>& x,
                                     Nubra::Vector<float>& y)
{
    return Nubra::gemv(1.0f, 0.0f, A, x, y);
}
