#include "send_logic.h"

namespace dazoroz::sending {

SendLogic::SendLogic(Connection& port, SendWindow& window, const store::Settings& settings)
    : port_(port), window_(window), settings_(settings) {}

} // namespace dazoroz::sending
