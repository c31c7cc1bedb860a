// A system error in words, the same on every system: Windows' socket errors otherwise read as
// "Unknown error (10048)" where Linux says "Address already in use".
#pragma once

#include <boost/system/error_code.hpp>

#include <string>

namespace idcard {

// The common socket errors in the words POSIX systems use; any other error as its category
// describes it.
std::string error_words(const boost::system::error_code& ec);

}  // namespace idcard
