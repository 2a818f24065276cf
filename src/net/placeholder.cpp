namespace dazoroz::net {} // namespace dazoroz::net
