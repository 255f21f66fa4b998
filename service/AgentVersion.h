#pragma once

// The version shown in the start-up banner and sent in the version reply.
inline constexpr char kAgentVersion[] = "2.7";
