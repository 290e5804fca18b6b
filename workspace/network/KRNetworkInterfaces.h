#pragma once

// The interfaces of the network's windows: "KRNewsView" and "KRProxyAuthView". Their
// controllers register them when first made; registering again changes nothing.
namespace KRNetworkInterfaces {

void registerInterfaces();

} // namespace KRNetworkInterfaces
