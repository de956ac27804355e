#include "vnc_texts.h"

#include "multilingual_manager.h"

QString vncText(int id)
{
    return MultilingualManager::GetInstance()->getMultilingualValue(id);
}
