#pragma once
// How soon a lost server shows as an error. While the line is quiet, keep-alive probes find a server that
// has gone without a word (after about idle + probes x interval); data it does not acknowledge for the
// limit ends the connection at once.
namespace NetTuning {
constexpr int KeepAliveIdleSeconds = 5;
constexpr int KeepAliveIntervalSeconds = 2;
constexpr int KeepAliveProbes = 3;
constexpr int UnacknowledgedLimitMs = 10000;
}  // namespace NetTuning
