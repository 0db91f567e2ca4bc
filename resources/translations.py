"""The texts of the "Languages" folder: the English template and the German
and Russian translations. Keys and English texts follow the program's text
table (app/Translations.cpp); a translated text is shown with the table's
prefix and suffix around it, so the caption, the colour group and the about
box carry only their own part here.
"""

# key, English, German, Russian
TEXTS = [
    ('msg_PrName', 'HTML Morvane', 'HTML Morvane', 'HTML Morvane'),
    ('msg_Files_for_HTML_Album', 'Files for the HTML Album:', 'Dateien für das HTML-Album:', 'Файлы для HTML-альбома:'),
    ('msg_Album_name', 'Album name:', 'Albumname:', 'Название альбома:'),
    ('msg_Album_folder', 'Album folder:', 'Albumordner:', 'Папка альбома:'),
    ('msg_HTML_options', 'HTML options...', 'HTML-Optionen...', 'Параметры HTML...'),
    ('mnuFile', 'File', 'Datei', 'Файл'),
    ('mnuHelp', 'Help', 'Hilfe', 'Справка'),
    ('btnOriginalOrientation', 'Original orientation', 'Ursprüngliche Ausrichtung', 'Исходная ориентация'),
    ('btnRotate270', 'Rotate 90 deg anti-clockwise', 'Um 90° gegen den Uhrzeigersinn drehen', 'Повернуть на 90° против часовой стрелки'),
    ('btnRotate180', 'Rotate 180 deg', 'Um 180° drehen', 'Повернуть на 180°'),
    ('btnRotate90', 'Rotate 90 deg clockwise', 'Um 90° im Uhrzeigersinn drehen', 'Повернуть на 90° по часовой стрелке'),
    ('btnStart', 'Start', 'Start', 'Создать'),
    ('btnExit', 'Exit', 'Beenden', 'Выход'),
    ('btnCancel', 'Cancel', 'Abbrechen', 'Отмена'),
    ('btnAdd', 'Add to list >>', 'Zur Liste >>', 'В список >>'),
    ('btnAddAll', 'Add all to list >>', 'Alle zur Liste >>', 'Все в список >>'),
    ('btnRemove', 'Remove', 'Entfernen', 'Удалить'),
    ('btnRemoveAll', 'Remove all', 'Alle entfernen', 'Удалить все'),
    ('strPreview', 'Preview', 'Vorschau', 'Просмотр'),
    ('strAllGraphics', 'All supported Graphic Files', 'Alle unterstützten Grafikdateien', 'Все поддерживаемые графические файлы'),
    ('strAllFiles', 'All Files (*.*)', 'Alle Dateien (*.*)', 'Все файлы (*.*)'),
    ('msgMainBackground', 'Main background:', 'Seitenhintergrund:', 'Фон страницы:'),
    ('msgThumbnailBackground', 'Thumbnail background:', 'Hintergrund der Miniaturen:', 'Фон миниатюр:'),
    ('msgTextBackground', 'Bottom bar:', 'Fußleiste:', 'Нижняя панель:'),
    ('msgHeadline', 'Title and description:', 'Titel und Beschreibung:', 'Заголовок и описание:'),
    ('msgFilenameText', 'Bottom text:', 'Fußzeilentext:', 'Нижний текст:'),
    ('msgColumns', 'Thumbnail columns:', 'Spalten der Miniaturen:', 'Столбцов миниатюр:'),
    ('msgRows', 'Thumbnail rows:', 'Zeilen der Miniaturen:', 'Строк миниатюр:'),
    ('msgThumbSize', 'Thumbnail size (in pixels):', 'Größe der Miniaturen (in Pixel):', 'Размер миниатюр (в пикселях):'),
    ('msgImageSize', 'Max. image size (in pixels):', 'Max. Bildgröße (in Pixel):', 'Макс. размер изображения (в пикселях):'),
    ('msgColors', 'Colors', 'Farben', 'Цвета'),
    ('msgResizeCopies', 'Resize the copies of the original images', 'Kopien der Originalbilder verkleinern', 'Уменьшать копии исходных изображений'),
    ('msgSettings', 'Preferences and Settings', 'Einstellungen', 'Параметры и настройки'),
    ('msgIndexCounterInfo', 'Preview page number:', 'Seitennummer der Übersicht:', 'Номер страницы обзора:'),
    ('msgPageCounterInfo', 'Page number:', 'Seitennummer:', 'Номер страницы:'),
    ('msgPageHint', '$p-current page; $t-total pages', '$p - aktuelle Seite; $t - Anzahl der Seiten', '$p - текущая страница; $t - всего страниц'),
    ('msgAbout', 'About', 'Über', 'О программе'),
    ('msgSelectLanguage', 'Select language', 'Sprache wählen', 'Выбрать язык'),
    ('msgFileOf', 'File', 'Datei', 'Файл'),
    ('msgAlbumExist', 'Album "%f1" already exists. Overwrite?', 'Das Album „%f1“ existiert bereits. Überschreiben?', 'Альбом «%f1» уже существует. Перезаписать?'),
    ('msgCouldNotWrite', 'Could not write file(s) to output folder. Check permissions or remove write protection.',
     'Die Datei(en) konnten nicht in den Zielordner geschrieben werden. Prüfen Sie die Zugriffsrechte oder heben Sie den Schreibschutz auf.',
     'Не удалось записать файл(ы) в папку назначения. Проверьте права доступа или снимите защиту от записи.'),
    ('msgESC', 'Press ESC to abort', 'ESC drücken zum Abbrechen', 'Нажмите ESC для прерывания'),
    ('msgErrorCreateAlbum', 'Could not create the album.', 'Das Album konnte nicht erstellt werden.', 'Не удалось создать альбом.'),
    ('msgAlbumCreated', 'HTML Album has been successfully created!', 'Das HTML-Album wurde erfolgreich erstellt!', 'HTML-альбом успешно создан!'),
    ('msgSelectDir', 'Select folder:', 'Ordner wählen:', 'Выберите папку:'),
    ('btnOpenList', 'Open file list...', 'Dateiliste öffnen...', 'Открыть список файлов...'),
    ('btnSaveList', 'Save file list...', 'Dateiliste speichern...', 'Сохранить список файлов...'),
    ('hintFileUp', 'Move file up', 'Datei nach oben', 'Переместить файл вверх'),
    ('hintFileDown', 'Move file down', 'Datei nach unten', 'Переместить файл вниз'),
    ('strTitle', 'Page Title:', 'Seitentitel:', 'Заголовок:'),
    ('strDescription', 'Description:', 'Beschreibung:', 'Описание:'),
    ('msgZoomOut', 'Zoom Out', 'Verkleinern', 'Уменьшить'),
    ('msgZoomIn', 'Zoom In', 'Vergrößern', 'Увеличить'),
    ('msgZoom100', 'Zoom 100%', 'Originalgröße (100 %)', 'Масштаб 100%'),
    ('msgAutoFitZoom', 'Auto-Fit Zoom', 'An Fenster anpassen', 'По размеру окна'),
    ('msgFirstFile', 'First File in the List', 'Erste Datei der Liste', 'Первый файл списка'),
    ('msgPreviousFile', 'Previous File in the List', 'Vorherige Datei der Liste', 'Предыдущий файл списка'),
    ('msgNextFile', 'Next File in the List', 'Nächste Datei der Liste', 'Следующий файл списка'),
    ('msgLastFile', 'Last File in the List', 'Letzte Datei der Liste', 'Последний файл списка'),
    ('msgRotation', 'Rotation:', 'Drehung:', 'Поворот:'),
    ('hintRightClick', 'Right click the mouse to enlarged preview', 'Rechtsklick für die vergrößerte Vorschau', 'Щелкните правой кнопкой мыши для увеличенного просмотра'),
    ('msgLargePreView', 'Enlarged preview...', 'Vergrößerte Vorschau...', 'Увеличенный просмотр...'),
    ('msgNotAlbumList',
     '"%f1" is not an album list: line %n1 does not describe a picture. Nothing was opened; your album list is unchanged. Choose a file saved with "Save file list...", or correct that line in a text editor.',
     '„%f1“ ist keine Albumliste: Zeile %n1 beschreibt kein Bild. Es wurde nichts geöffnet; Ihre Albumliste bleibt unverändert. Wählen Sie eine mit „Dateiliste speichern...“ gespeicherte Datei, oder korrigieren Sie diese Zeile in einem Texteditor.',
     '«%f1» не является списком альбома: строка %n1 не описывает изображение. Ничего не открыто; ваш список альбома не изменён. Выберите файл, сохранённый кнопкой «Сохранить список файлов...», или исправьте эту строку в текстовом редакторе.'),
    ('msgEmptyAlbumList',
     '"%f1" is not an album list: none of its lines describes a picture. Nothing was opened; your album list is unchanged. Choose a file saved with "Save file list...".',
     '„%f1“ ist keine Albumliste: Keine ihrer Zeilen beschreibt ein Bild. Es wurde nichts geöffnet; Ihre Albumliste bleibt unverändert. Wählen Sie eine mit „Dateiliste speichern...“ gespeicherte Datei.',
     '«%f1» не является списком альбома: ни одна его строка не описывает изображение. Ничего не открыто; ваш список альбома не изменён. Выберите файл, сохранённый кнопкой «Сохранить список файлов...».'),
    ('msgListNotRead',
     'The album list "%f1" could not be read, so nothing was opened; your album list is unchanged. Check that the file still exists, that you may read it and that no other program holds it open, then try again.',
     'Die Albumliste „%f1“ konnte nicht gelesen werden; es wurde nichts geöffnet, Ihre Albumliste bleibt unverändert. Prüfen Sie, ob die Datei noch existiert, Sie sie lesen dürfen und kein anderes Programm sie geöffnet hält, und versuchen Sie es erneut.',
     'Не удалось прочитать список альбома «%f1», поэтому ничего не открыто; ваш список альбома не изменён. Проверьте, что файл существует, у вас есть право его читать и он не открыт в другой программе, и попробуйте ещё раз.'),
    ('msgListNotWritten',
     'The album list could not be saved as "%f1". Choose another folder or file name, or check that you may write to that folder and that the file is neither read-only nor open in another program.',
     'Die Albumliste konnte nicht als „%f1“ gespeichert werden. Wählen Sie einen anderen Ordner oder Dateinamen, oder prüfen Sie, ob Sie in diesen Ordner schreiben dürfen und die Datei weder schreibgeschützt noch in einem anderen Programm geöffnet ist.',
     'Не удалось сохранить список альбома как «%f1». Выберите другую папку или другое имя файла либо проверьте, что у вас есть право записи в эту папку и файл не защищён от записи и не открыт в другой программе.'),
]

NOTES = [
    '//// How to translate:',
    '//// - change only the text after the first "=" of a line; never the key before it;',
    '//// - keep "%f1" (the album name or a file name), "%n1" (a line number), "$p" (page number) and "$t" (number of pages);',
    '//// - lines starting with "//" are comments; save the file as UTF-8;',
    '//// - remove the "//" before priLangId to make the program offer the language.',
]


def _body(column):
    return [key + '=' + row[column] for row in TEXTS for key in (row[0],)]


def files():
    """File name -> list of lines."""
    return {
        'Morvane_000.tx_': ['[Velmo Morvane v.1.4 - English]', '//priLangId=XX'] + NOTES + [''] + _body(1),
        'Morvane_Ger.txt': ['[Velmo Morvane v.1.4 - German]', 'priLangId=07', ''] + _body(2),
        'Morvane_Rus.txt': ['[Velmo Morvane v.1.4 - Russian]', 'priLangId=25', ''] + _body(3),
    }
