#pragma once

// Which side of a transfer this program is.
enum class Role { Sender, Receiver };
