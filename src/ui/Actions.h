#pragma once

#include "store/OperationError.h"

#include <QAbstractButton>
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

// The one way a window connects an operator action (a click, a menu item, a timer tick, a toggled
// box, a double-click ...) to its handler. The handler runs through Guarded: an error it throws
// (an OperationError of a lookup or load, or any other exception) reaches the operator in an error
// box with its own text and ends that action only; the window stays and the next action works.
// An exception that left a Qt slot would end the program, so no window handler is connected
// another way.
//
//     OnClick(btnWrite, this, &TFormX::btnWriteClick);
//     OnSignal(tmr1, &QTimer::timeout, this, &TFormX::tmr1Timer);
//     OnSignal(chkReset, &QCheckBox::toggled, this, [this](bool checked) { ... });
//
// The handler is a member function of receiver or any callable; it takes the signal's first
// arguments or fewer (none is fine). It runs only while receiver exists. Main thread.

namespace action_detail {

template <typename Handler, typename Receiver, typename Args, std::size_t... I>
constexpr bool TakesFirst(std::index_sequence<I...>)
{
    if constexpr (std::is_member_function_pointer_v<Handler>)
        return std::is_invocable_v<Handler&, Receiver*, std::tuple_element_t<I, Args>...>;
    else
        return std::is_invocable_v<Handler&, std::tuple_element_t<I, Args>...>;
}

// Calls handler with as many of the first arguments as it takes.
template <std::size_t N, typename Handler, typename Receiver, typename Args>
void CallWithFirst(Handler& handler, Receiver* receiver, Args& args)
{
    if constexpr (TakesFirst<Handler, Receiver, Args>(std::make_index_sequence<N>{})) {
        [&]<std::size_t... I>(std::index_sequence<I...>)
        {
            if constexpr (std::is_member_function_pointer_v<Handler>)
                std::invoke(handler, receiver, std::get<I>(args)...);
            else
                std::invoke(handler, std::get<I>(args)...);
        }
        (std::make_index_sequence<N>{});
    } else {
        static_assert(N > 0, "the handler cannot take the signal's arguments");
        if constexpr (N > 0)
            CallWithFirst<N - 1>(handler, receiver, args);
    }
}

} // namespace action_detail

template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection OnSignal(Sender* sender, Signal signal, Receiver* receiver, Handler handler)
{
    return QObject::connect(sender, signal, receiver, [receiver, handler](auto&&... args) mutable -> void {
        auto taken = std::forward_as_tuple(args...);
        Guarded([&] { action_detail::CallWithFirst<sizeof...(args)>(handler, receiver, taken); });
    });
}

// A button's click (mouse, Space, Enter through ClickOnEnter, click()).
template <typename Receiver, typename Handler>
QMetaObject::Connection OnClick(QAbstractButton* button, Receiver* receiver, Handler handler)
{
    return OnSignal(button, &QAbstractButton::clicked, receiver, std::move(handler));
}

// Runs the handler once, as soon as the event loop is back, guarded the same way.
template <typename Receiver, typename Handler> void OnceLater(Receiver* receiver, Handler handler)
{
    QTimer::singleShot(0, receiver, [receiver, handler]() mutable {
        std::tuple<> none;
        Guarded([&] { action_detail::CallWithFirst<0>(handler, receiver, none); });
    });
}
