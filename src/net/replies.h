// What the worker itself reads from replies, free of any system type: the
// token of a sign-in, the room of a work item, the id of a created work item,
// and the text a refused request carries.
#pragma once
#include <string>
#include "text/json.h"

std::wstring signInToken(const JsonValue& reply);      // "token"
std::wstring workItemRoom(const JsonValue& workItem);  // "item"."room_id"
std::wstring createdId(const JsonValue& reply);        // "id"

// The text a refused request is shown with: the body's "error", possibly
// empty. A body that is not JSON raises UserMessage "Сервер отклонил запрос".
std::wstring refusalText(std::string body);
