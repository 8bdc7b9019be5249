// Force-included by the fuzzing build (clang) wherever qpdf's headers may be
// read. In C++20 clang instantiates std::vector<JSON>'s constexpr destructor
// inside qpdf 11's class JSON, before JSON is complete (libstdc++ 12), and
// stops; GCC waits. Declared here and defined once JSON is complete, the
// destructor is the same one, and clang compiles the colour scan too.
#pragma once

#include <vector>

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4 // as the engine's own sources say
#endif

class JSON;

template <> constexpr std::vector<JSON>::~vector() noexcept;

#include <qpdf/JSON.hh>

template <> constexpr std::vector<JSON>::~vector() noexcept
{
    std::_Destroy(this->_M_impl._M_start, this->_M_impl._M_finish, _M_get_Tp_allocator());
}
