#include "types/Vector.h"

size_t secondDimension(const Nubra::Vector<float>& v)
{
    return v.dim<1>();
}
