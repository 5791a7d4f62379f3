-- The site rules shipped with the reader, one row per site, each inserted by column name (the
-- tables belong to the program). Installed as share/zvrd/site_rules.sql; at start the reader
-- merges them into the user's zvrd.db when this version is newer than the one it last received:
-- a row the user left as shipped is updated, a row the user changed or made is never touched
-- (a new row whose id is taken goes to a free one). Raise the version with every change of a row.
-- shipped-rules-version: 2
-- Every pattern field is a list of PCRE pieces separated by "|"; group 1 carries the value.
-- Search fields are filled only for sites whose search result page is known.

-- The information page is the chapter list page itself: the empty group resolves to its own address.
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (1, '笔趣阁', 'http://www.biquge.com.tw/', 'gbk',
    '', '', '', '', '', '',
    '',
    '<meta property="og:novel:book_name" content="(.+?)"/>|<h1>(.+?)</h1>',
    '<meta property="og:novel:author" content="(.+?)"/>|作&nbsp;&nbsp;&nbsp;&nbsp;者：(.+?)</p>',
    '', '',
    '<meta property="og:novel:latest_chapter_name" content="(.+?)"/>|最新章节：<a href="[^"]*">(.+?)</a>',
    '<div id="list">()',
    '<div id="list">(.+?)</dl>',
    '<dd><a href="(.+?)">(.+?)</a></dd>',
    '<div id="content">(.+?)</div>',
    '<script[^>]*>.*?</script>');

INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (2, '999文学', 'http://www.999wx.com/', 'gbk',
    '', '', '', '', '', '',
    '',
    '<h3>(.+?)作者：',
    '<h3>[^<]*?作者：(.+?)</h3>',
    '', '',
    '<li><a href="[^"]*" title="[^"]*">([^<]+)</a></li>(?:<li></li>)*\s*</ul>\s*</div>\s*<script src="/Ads/listend.js">',
    '<div id="title">()',
    '<div id="content">(.+?)<script src="/Ads/listend.js">',
    '<li><a href="(.+?)" title="[^"]*">(.+?)</a></li>',
    '<div class="adread"><script>show_read\(\);</script></div>(.+?)<div',
    '‘|’');

INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (3, '笔趣阁info', 'http://www.biquge.info/', 'utf-8',
    '', '', '', '', '', '',
    '',
    '<meta property="og:novel:book_name" content="(.+?)"/>',
    '<meta property="og:novel:author" content="(.+?)"/>',
    '', '',
    '<meta property="og:novel:latest_chapter_name" content="(.+?)"/>',
    '<div id="list">()',
    '<div id="list">(.+?)</dl>',
    '<dd><a href="(.+?)" title="[^"]*">(.+?)</a></dd>',
    '<!--go-->(.+?)<!--over-->',
    '<script[^>]*>.*?</script>');

INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (4, '思路客', 'http://www.siluke.tw/', 'utf-8',
    '', '', '', '', '', '',
    '',
    '<h1><a href="[^"]*" title="(.+?)">',
    '<span>作者：<strong>(.+?)</strong></span>',
    '', '',
    '当前位置:.+?<a href="/ny\d+/\d+\.html">(.+?)</a>',
    '<div class="booklist">()',
    '<div class="booklist">(.+?)</div>',
    '<li><a style="[^"]*" href="(.+?)">(.+?)</a></li>',
    '<div class="cont">(.+?)<script',
    '上一页&lt;(?:<br>)?|下一页&gt;');

INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (5, '书趣阁', 'http://www.shuquge.com/', 'utf-8',
    '', '', '', '', '', '',
    '',
    '<meta property="og:novel:book_name" content="(.+?)"',
    '<meta property="og:novel:author" content="(.+?)"',
    '', '',
    '<meta property="og:novel:latest_chapter_name" content="(.+?)"',
    '<div class="listmain">()',
    '<dt>《[^》]*》章节目录</dt>(.+?)</dl>',
    '<dd><a href="(.+?)">(.+?)</a></dd>',
    '',
    '');

-- Chapter links are protocol-relative ("//read.qidian.com/..."); they take the list page's scheme.
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (6, '起点中文网', 'https://www.qidian.com/', 'utf-8',
    '', '', '', '', '', '',
    '',
    '<h1><em>(.+?)</em>',
    '<a class="writer"[^>]*>(.+?)</a>',
    '', '',
    'data-eid="qd_G19"[^>]*>(.+?)</a>',
    '<div class="volume-wrap">()',
    '<div class="volume-wrap">(.+)',
    '<li data-rid="\d+"><a href="(.+?)" target="_blank" data-eid="qd_G55" data-cid="[^"]*" title="[^"]*">(.+?)</a>',
    '<div class="read-content j_readContent">(.+?)</div>',
    '');

-- The search result page shows no latest chapter: the book's blurb stands in its column.
INSERT OR REPLACE INTO site_rule (
    id, site_name, site_url, charset, search_page_url_format, search_page_result_regional,
    search_page_novel_name, search_page_novel_author, search_page_latest_chapter,
    search_page_info_page_url, info_page_novel_sort, info_page_novel_name, info_page_novel_author,
    info_page_novel_state, info_page_novel_intro, info_page_latest_chapter,
    info_page_directory_page_url, directory_page_regional, directory_page_chapter_name_and_url,
    chapter_page_chapter_content, replace_rule)
VALUES (7, '笔趣阁手机版', 'https://m.xbiquge.tw/', 'gbk',
    'https://m.xbiquge.tw/modules/article/search.php?searchtype=articlename&searchkey={KEY}',
    '<h1 class="search-title">(.+?)<div id="foot"',
    '<div class="article"><a href="[^"]*">(.+?)</a>',
    '<span class="mr15">作者:(.+?)</span>',
    '<span\s+class="fs12 gray">(.*?)</span></a>',
    '<div class="article"><a href="(.+?)">',
    '', '', '', '', '', '', '', '', '', '', '');

-- What the health check starts from: a novel each site is known to carry (its information page,
-- for the sites whose search page is not known), or the word to search for.
INSERT OR REPLACE INTO site_check (site_id, keyword, info_page_url) VALUES
    (1, '', 'http://www.biquge.com.tw/17_17275/'),
    (2, '', 'http://www.999wx.com/Html/Book/29/29041/Index.shtml'),
    (3, '', 'http://www.biquge.info/74_74132/'),
    (4, '', 'http://www.siluke.tw/ny10354/'),
    (5, '', 'http://www.shuquge.com/txt/30668/index.html'),
    (6, '', 'https://book.qidian.com/info/1009704712'),
    (7, '凡人', '');
