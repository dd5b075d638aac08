#pragma once

class AppContext;

// Handles every received byte: shows ordinary data and collects module replies.
void ParseModuleReply(AppContext& ctx);
