#pragma once
// The module's scalar types in registration order, with their class-name
// suffixes; every list of scalar types in the binding derives from this one.

#include <complex>

#include <boost/hana.hpp>

namespace Nubra::Python {

constexpr auto typeSet = boost::hana::make_tuple(
    boost::hana::make_pair(boost::hana::type_c<float>, boost::hana::string_c<'s'>),
    boost::hana::make_pair(boost::hana::type_c<double>, boost::hana::string_c<'d'>),
    boost::hana::make_pair(boost::hana::type_c<std::complex<float>>, boost::hana::string_c<'c'>),
    boost::hana::make_pair(boost::hana::type_c<std::complex<double>>, boost::hana::string_c<'z'>));

constexpr auto operationsSet = boost::hana::transform(typeSet, boost::hana::first);

} // namespace Nubra::Python
