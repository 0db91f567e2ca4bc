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
    ('hintRightClick', 'Right-click a picture for an enlarged preview', 'Rechtsklick auf ein Bild zeigt eine vergrößerte Vorschau', 'Щелкните изображение правой кнопкой мыши для увеличенного просмотра'),
    ('msgLargePreView', 'Enlarged preview...', 'Vergrößerte Vorschau...', 'Увеличенный просмотр...'),
    # Messages of failures the user can act on, questions, and the words of
    # the rotation label.
    ('msgNoPictures',
     'None of the chosen files is a picture this program can read, so nothing was added. Choose picture files (JPEG, PNG, TIFF, GIF, BMP ...) and add them again.',
     'Keine der gewählten Dateien ist ein Bild, das dieses Programm lesen kann; es wurde nichts hinzugefügt. Wählen Sie Bilddateien (JPEG, PNG, TIFF, GIF, BMP ...) und fügen Sie sie erneut hinzu.',
     'Ни один из выбранных файлов не является изображением, которое программа может прочитать, поэтому ничего не добавлено. Выберите файлы изображений (JPEG, PNG, TIFF, GIF, BMP ...) и добавьте их снова.'),
    ('msgDamagedList',
     'This file is not an album list, or it is damaged, so it was not opened; the album list was left as it was. Open a file saved with "Save file list...":',
     'Diese Datei ist keine Albumliste oder sie ist beschädigt und wurde daher nicht geöffnet; die Albumliste bleibt unverändert. Öffnen Sie eine mit „Dateiliste speichern...“ gespeicherte Datei:',
     'Этот файл не является списком альбома или поврежден, поэтому он не открыт; список альбома не изменен. Откройте файл, сохраненный командой «Сохранить список файлов...»:'),
    ('msgListNotSaved', 'The album list has changed since it was last saved. Close without saving it?',
     'Die Albumliste wurde seit dem letzten Speichern geändert. Ohne Speichern schließen?',
     'Список альбома изменен после последнего сохранения. Закрыть без сохранения?'),
    ('msgBuildFailed',
     'The album could not be finished. What was written so far stays in the album folder. The reason is below; put it right and press Start again.',
     'Das Album konnte nicht fertiggestellt werden. Was bisher geschrieben wurde, bleibt im Albumordner. Der Grund steht unten; beheben Sie ihn und drücken Sie erneut auf Start.',
     'Не удалось завершить альбом. Уже записанное остается в папке альбома. Причина указана ниже; устраните ее и снова нажмите «Создать».'),
    ('msgNoAlbumName', 'The album has no name. Type a name into the "Album name" field, then press Start.',
     'Das Album hat keinen Namen. Geben Sie im Feld „Albumname“ einen Namen ein und drücken Sie dann auf Start.',
     'У альбома нет названия. Введите название в поле «Название альбома» и нажмите «Создать».'),
    ('msgSkippedPictures',
     'These pictures could not be read and are not in the album; check or replace the files and press Start again:',
     'Diese Bilder konnten nicht gelesen werden und fehlen im Album; prüfen oder ersetzen Sie die Dateien und drücken Sie erneut auf Start:',
     'Эти изображения не удалось прочитать, и их нет в альбоме; проверьте или замените файлы и снова нажмите «Создать»:'),
    ('msgRemoveFromAlbum', 'Remove "%f" from the album list? The file itself stays where it is.',
     '„%f“ aus der Albumliste entfernen? Die Datei selbst bleibt, wo sie ist.',
     'Удалить «%f» из списка альбома? Сам файл останется на месте.'),
    ('strClockwise', 'clockwise', 'im Uhrzeigersinn', 'по часовой стрелке'),
    ('strAntiClockwise', 'anti-clockwise', 'gegen den Uhrzeigersinn', 'против часовой стрелки'),
    ('msgTranslateMenu', 'Translate to your language...', 'In Ihre Sprache übersetzen...', 'Перевести на ваш язык...'),
    ('msgAboutNotice', 'Web photo albums, made on your own computer.', 'Web-Fotoalben, erstellt auf Ihrem eigenen Computer.', 'Веб-фотоальбомы, созданные на вашем компьютере.'),
]

NOTES = [
    '//// How to translate:',
    '//// - change only the text after the first "=" of a line; never the key before it;',
    '//// - keep "%f1" (the album name), "%f" (a file name), "$p" (page number) and "$t" (number of pages);',
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
